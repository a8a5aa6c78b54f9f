#pragma once
// Resources of qx3fetch.exe.

// Registration script of the switches: AppID, ProgIDs and the class key.
#define IDR_QX3FETCH 100
// Registration script of the class table entry: the two AppID keys.
#define IDR_SYMBOLMANAGER 101
