int pel_placeholder;
