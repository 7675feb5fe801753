// windows.h as the dialog's view includes it. The form's control models have methods named like
// Win32 functions that windows.h turns into macros (GetWindowText, SetWindowText would become
// ...W and miss the models' methods); the view calls the wide functions by their own names, so
// those macros go.
#pragma once

#include <windows.h>

#undef GetWindowText
#undef SetWindowText
