#pragma once
// The frame's command "Settings..." (Import and Export Settings).
class CMainFrame;

// The pages give their edits to the documents, then the dialog runs modal with the application
// as its host.
void RunManageSettingsDialog(CMainFrame& frame);
