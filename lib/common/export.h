// Marks a definition as part of the library's binary interface.  Which
// version node it lands in is decided by the export manifest.
#pragma once

#define HYX_EXPORT extern "C" __attribute__((visibility("default")))

// Binds a definition (an extern "C" name) to one version of an exported
// name: "name@@NODE" makes it the default new programs link to, "name@NODE"
// an older entry that programs built against it keep binding to.  The
// assembler's directive, which gcc and clang both pass on.
#define HYX_SYMVER(definition, versioned) __asm__(".symver " #definition ", " versioned)
