#pragma once
// The base of the reader and card-reading pages whose controls' enabled states follow their
// settings and the reader's state: a change only marks the states, and the next idle pass
// brings them up to date once, however many changes came in between.
#include "framework/Dialog.h"

class CStatesPage : public CBasePage
{
public:
    using CBasePage::CBasePage;

    void OnIdleUpdate() override;
    // Nothing while the page has no window; otherwise the page shows the change, and the
    // states are marked when it touches them.
    void OnDocumentChanged(CDocument* doc, const uint32_t* bits) override;
    // Enables and disables the controls as the settings and the reader stand now.
    virtual void UpdateControlStates() = 0;

protected:
    // Shows a change of an observed document; true when it touches the control states.
    virtual bool ShowChange(CDocument* doc, const uint32_t* bits) = 0;
    // Has the next idle pass bring the control states up to date.
    void MarkStatesStale();

private:
    bool m_statesStale = false;
};

// Enables or disables a control of the page and, withLabel, the label before it.
void EnableWithLabel(HWND page, int id, bool enable, bool withLabel);
