// Posts WM_USER+1 by its name; a comment may say so.
#include "framework/PrivateMessages.h"
/* WM_USER + 2
   is named in the header too */
void Post(HWND w) { PostMessageW(w, WM_FIRST, 0, 0); SetWindowTextW(w, L"WM_USER + 9 in a text"); }
