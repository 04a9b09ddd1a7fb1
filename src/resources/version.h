// One version for the module's version record and the code.
#pragma once

#define QUORVEL_VERSION_MAJOR 2
#define QUORVEL_VERSION_MINOR 0
#define QUORVEL_VERSION_PATCH 143
#define QUORVEL_VERSION_BUILD 1
#define QUORVEL_VERSION_TEXT "2.0.143.1"
// The library version word: major in the top byte, minor in the next, the patch number in the
// low 16 bits.
#define QUORVEL_VERSION_WORD 0x0200008F
