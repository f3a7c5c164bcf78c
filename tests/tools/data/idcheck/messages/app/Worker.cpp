void Post(HWND w)
{
    PostMessageW(w, WM_USER+7, 0, 0);
}
