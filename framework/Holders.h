#pragma once
// Owning holders of GDI objects, device contexts, menus, image lists, the thread's COM
// initialisation and window objects, and the exception thrown when such a resource cannot be
// obtained.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "core/Exceptions.h"
#include "core/Object.h"
#include "resources/ids_framework.h"

class CResourceException : public CException
{
public:
    CResourceException();
};

[[noreturn]] void ThrowResourceException();

class CGdiObject : public CObject
{
public:
    CGdiObject() = default;
    explicit CGdiObject(HGDIOBJ object) : m_object(object) {}
    ~CGdiObject() override { Delete(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ Get() const { return m_object; }
    void Attach(HGDIOBJ object)
    {
        Delete();
        m_object = object;
    }
    HGDIOBJ Detach()
    {
        HGDIOBJ o = m_object;
        m_object = nullptr;
        return o;
    }
    void Delete()
    {
        if (m_object)
        {
            DeleteObject(m_object);
            m_object = nullptr;
        }
    }

private:
    HGDIOBJ m_object = nullptr;
};

class CDC : public CObject
{
public:
    CDC() = default;
    explicit CDC(HDC dc) : m_hDC(dc) {}
    ~CDC() override
    {
        if (m_hDC)
            DeleteDC(m_hDC);
    }
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC Get() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

protected:
    HDC m_hDC = nullptr;
};

// The client-area context of a window, given back with ReleaseDC.
class CClientDC : public CDC
{
public:
    explicit CClientDC(HWND window);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};

// The whole-window context of a window, given back with ReleaseDC.
class CWindowDC : public CDC
{
public:
    explicit CWindowDC(HWND window);
    ~CWindowDC() override;

private:
    HWND m_hWnd;
};

class CMenu : public CObject
{
public:
    CMenu() = default;
    explicit CMenu(HMENU menu) : m_hMenu(menu) {}
    ~CMenu() override { Destroy(); }
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    HMENU Get() const { return m_hMenu; }
    void Attach(HMENU menu)
    {
        Destroy();
        m_hMenu = menu;
    }
    HMENU Detach()
    {
        HMENU m = m_hMenu;
        m_hMenu = nullptr;
        return m;
    }
    void Destroy()
    {
        if (m_hMenu)
        {
            DestroyMenu(m_hMenu);
            m_hMenu = nullptr;
        }
    }

private:
    HMENU m_hMenu = nullptr;
};

class CImageList : public CObject
{
public:
    CImageList() = default;
    explicit CImageList(HIMAGELIST list) : m_list(list) {}
    ~CImageList() override { Destroy(); }
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    HIMAGELIST Get() const { return m_list; }
    void Attach(HIMAGELIST list)
    {
        Destroy();
        m_list = list;
    }
    HIMAGELIST Detach()
    {
        HIMAGELIST l = m_list;
        m_list = nullptr;
        return l;
    }
    void Destroy()
    {
        if (m_list)
        {
            ImageList_Destroy(m_list);
            m_list = nullptr;
        }
    }

private:
    HIMAGELIST m_list = nullptr;
};

// COM on the calling thread (single-threaded apartment) for the holder's lifetime. A thread
// that is already in another apartment keeps it: the failed call is not undone.
class CComInit
{
public:
    CComInit() : m_result(CoInitialize(nullptr)) {}
    ~CComInit()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};

// The deleter of a window object that may still have its window: the window goes first, so
// that its last messages (WM_DESTROY among them) reach the whole object, not the base part a
// destructor has left of it.
struct DestroyWindowFirst
{
    template <class Window>
    void operator()(Window* window) const
    {
        window->Destroy();
        delete window;
    }
};
