// The key codes the settings and the players' key maps store are the
// system's virtual-key codes; Qt's keys map onto them through one table.
#pragma once

// The virtual-key code of a Qt key (Qt::Key); 0 for a key without one.
int vk_from_qt_key(int qt_key);
// The Qt key of a virtual-key code; 0 for a code without one.
int qt_key_from_vk(int vk);
