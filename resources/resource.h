// Resource ids shared by installer.rc and the code that loads them.
#pragma once

// The application icon group (96, 64, 32 and 16 px images).
#define IDI_APP 1
