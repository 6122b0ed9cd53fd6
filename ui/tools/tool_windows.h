// The stream tool windows the program registers with its tool registry.
#pragma once

class CEditorApp;
class QWidget;

// Registers each tool window's factory (owned by owner) and installs the
// tool jobs' progress windows.
void register_tool_windows(CEditorApp* app, QWidget* owner);
