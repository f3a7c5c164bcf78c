#pragma once
// The Progress dialog (970) of the long reader jobs, "Initializing Temic" and "Write keys to the
// reader memory": it shows the job's progress as the reader thread reports it, ends by itself
// when the job ends, and Cancel aborts a job that still runs.
#include <windows.h>
#include <functional>

#include "framework/Dialog.h"

class CReader;

class CProgressDialog : public CModalDialog
{
public:
    CProgressDialog();

    // Runs the dialog modally over owner while the reader's job is pending. stopWaiting is
    // called after Cancel aborted a pending job, so that its owner stops waiting for it.
    // IDOK when the job ended, IDCANCEL when the user cancelled, -1 when the dialog could not
    // be created.
    int Run(HWND owner, CReader& reader, std::function<void()> stopWaiting = nullptr);
    bool IsOpen() const { return m_hWnd != nullptr; }
    // The job's end is known: close with OK now instead of at the next tick.
    void Finish();

    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int id, int code, HWND control) override;

    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kTickMs = 333;

private:
    struct JobState
    {
        int type = 0;
        int progress = 0;
        int total = 0;
        HRESULT state = S_OK;
    };
    JobState ReadJob() const;
    bool OnInitDialog() override;
    void OnTick();
    void OnCancel();

    CReader* m_reader = nullptr;
    std::function<void()> m_stopWaiting;
};
