int kes_placeholder;
