// Resource numbers shared by vindrel.rc and the program.
#pragma once

#define IDI_VINDREL 1
