// One version for the module's version record and the code.
#pragma once

#define QUORVEL_VERSION_MAJOR 1
#define QUORVEL_VERSION_MINOR 0
#define QUORVEL_VERSION_PATCH 0
#define QUORVEL_VERSION_BUILD 0
#define QUORVEL_VERSION_TEXT "1.0.0.0"
