#pragma once
// The program's task in the taskbar jump list: "Run as Administrator".

// Any step that fails (COM classes a system lacks included) skips the rest silently.
void AddJumpListTasks();

// The application user-model id the jump list belongs to.
extern const wchar_t kAppUserModelId[];  // "Tarnwell.Norvane.2"
