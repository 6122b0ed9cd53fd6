// The audio window as the application's single-instance tool: opened by
// its menu item and by files without video, closed through its own close
// path when the program exits.
#pragma once

class CEditorApp;

void register_audio_player(CEditorApp* app);
