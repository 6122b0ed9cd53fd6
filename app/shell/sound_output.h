// Where playback sound goes, chosen in one place for every window that
// plays: into the WAVE file TAMSEL_SOUND_FILE names (played at the pace
// of the platform clock, so a test hears what a user would), else to the
// sound device the program registered.
#pragma once

#include <functional>
#include <memory>

#include "platform/audio_sink.h"

using AudioSinkFactory = std::function<std::unique_ptr<AudioSink>()>;

// The program registers its sound device (null: no device).
void set_audio_device_factory(AudioSinkFactory factory);
// A new sink for one sound output; null when there is neither a sound
// file nor a device (playback is then silent).
std::unique_ptr<AudioSink> make_audio_sink();
