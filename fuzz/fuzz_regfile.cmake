# The .reg reader is part of the kesreg tool, not of a library: build its
# sources into the target.
target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/kesreg/regfile.cpp
                               ${PROJECT_SOURCE_DIR}/tools/kesreg/regtext.cpp)
target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/kesreg)
