#pragma once
#include <windows.h>

#include "ModalDialog.h"

// The about box (template 205).
class CAboutDialog : public CModalDialog
{
public:
    CAboutDialog() : CModalDialog(205) {}

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};
