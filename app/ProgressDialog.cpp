#include "app/ProgressDialog.h"

#include <commctrl.h>
#include <string>

#include "core/SysUtil.h"
#include "core/TextUtil.h"
#include "reader/Reader.h"
#include "resources/resource.h"

namespace {

constexpr int kMarqueeMs = 30;

UINT JobNameId(int jobType)
{
    return jobType == RDJOB_TEMIC_INIT ? IDS_JOB_TEMIC_INIT : IDS_JOB_WRITE_KEYS;
}

} // namespace

CProgressDialog::CProgressDialog() : CModalDialog(IDD_PROGRESS)
{
}

int CProgressDialog::Run(HWND owner, CReader& reader, std::function<void()> stopWaiting)
{
    m_reader = &reader;
    m_stopWaiting = std::move(stopWaiting);
    const int result = RunModal(owner);
    m_reader = nullptr;
    m_stopWaiting = nullptr;
    return result;
}

void CProgressDialog::Finish()
{
    if (IsOpen())
        EndModal(IDOK);
}

CProgressDialog::JobState CProgressDialog::ReadJob() const
{
    JobState job;
    if (!m_reader)
        return job;
    const ReaderJob current = m_reader->GetJob();
    job.type = current.type;
    job.progress = current.progress;
    job.total = current.total;
    job.state = current.state;
    return job;
}

LRESULT CProgressDialog::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kTimerId) {
            OnTick();
            return 0;
        }
        break;
    case WM_DESTROY:
        ::KillTimer(hwnd, kTimerId);
        break;
    }
    return CModalDialog::HandleMessage(hwnd, message, wParam, lParam);
}

bool CProgressDialog::OnCommand(int id, int code, HWND control)
{
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return CModalDialog::OnCommand(id, code, control);
}

bool CProgressDialog::OnInitDialog()
{
    const JobState job = ReadJob();
    std::wstring text;
    if (job.state == RDJOB_PENDING) {
        HWND bar = GetDlgItem(m_hWnd, IDC_PROGRESS_BAR);
        SendMessageW(bar, PBM_SETRANGE32, 0, job.total);
        if (job.total < 2) {
            // A job without steps to count: show that it runs, not how far.
            SetWindowLongW(bar, GWL_STYLE, GetWindowLongW(bar, GWL_STYLE) | PBS_MARQUEE);
            SendMessageW(bar, PBM_SETMARQUEE, TRUE, kMarqueeMs);
        } else {
            SendMessageW(bar, PBM_SETPOS, job.progress, 0);
        }
        std::wstring name;
        LoadResString(JobNameId(job.type), name);
        FormatResString(text, IDS_JOB_PROGRESS, name.c_str());
    }
    SetDlgItemTextW(m_hWnd, IDC_PROGRESS_TEXT, text.c_str());
    ::SetTimer(m_hWnd, kTimerId, kTickMs, nullptr);
    return true;
}

void CProgressDialog::OnTick()
{
    const JobState job = ReadJob();
    if (job.state != RDJOB_PENDING) {
        EndModal(IDOK);
        return;
    }
    if (job.total >= 2)
        SendItem(IDC_PROGRESS_BAR, PBM_SETPOS, job.progress);
}

void CProgressDialog::OnCancel()
{
    const bool aborted = m_reader && m_reader->AbortJob();
    if (aborted && m_stopWaiting)
        m_stopWaiting();
    EndModal(IDCANCEL);
}
