// Program and transport streams as clips: facts against ffprobe, the audio
// choice, choosing other streams, audio tracks over a list, and lists and
// projects that keep the chosen streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "engine/clips/cliplist_file.h"
#include "audio/dalist.h"
#include "engine/clips/project.h"
#include "engine/clips/settings.h"
#include "support/support.h"

namespace {

using tsupport::field;
using tsupport::field_int;

struct Stream {
  std::string type, codec;
  int id = 0, width = 0, height = 0, sample_rate = 0, channels = 0, bit_rate = 0, packets = 0;
  double rate = 0;
};

std::vector<Stream> ffprobe_streams(const std::string& file) {
  std::string out;
  tsupport::run("ffprobe -v error -count_packets -show_entries "
                "stream=index,codec_type,codec_name,id,width,height,r_frame_rate,sample_rate,channels,bit_rate,"
                "nb_read_packets -of default=nw=1 " + tsupport::sh_quote(file),
                &out);
  std::vector<Stream> all;
  std::vector<int> seen;
  bool skip = false;
  for (const std::string& l : tsupport::split_lines(out)) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = l.substr(0, eq), v = l.substr(eq + 1);
    // Streams listed again under their program are read once.
    if (k == "index") {
      const int index = std::stoi(v);
      skip = std::find(seen.begin(), seen.end(), index) != seen.end();
      if (!skip) {
        seen.push_back(index);
        all.emplace_back();
      }
    }
    if (skip || all.empty()) continue;
    Stream& s = all.back();
    if (k == "codec_name") s.codec = v;
    if (k == "codec_type") s.type = v;
    if (v == "N/A" || v.empty()) continue;
    if (k == "id") s.id = int(std::stol(v, nullptr, 16));
    if (k == "width") s.width = std::stoi(v);
    if (k == "height") s.height = std::stoi(v);
    if (k == "sample_rate") s.sample_rate = std::stoi(v);
    if (k == "channels") s.channels = std::stoi(v);
    if (k == "bit_rate") s.bit_rate = std::stoi(v);
    if (k == "nb_read_packets") s.packets = std::stoi(v);
    if (k == "r_frame_rate") {
      int a = 0, b = 1;
      if (std::sscanf(v.c_str(), "%d/%d", &a, &b) == 2 && b) s.rate = double(a) / b;
    }
  }
  return all;
}

Clip verified(const char* name, int audio_id = 0) {
  auto made = clip_ctor(tsupport::fixture(name).c_str(), 0, 0, audio_id, 0);
  EXPECT_TRUE(made) << name;
  return made.value_or(Clip());
}

// Video facts, stream counts and the chosen audio's facts of multiplexes
// made by ffmpeg, as ffprobe reads them.
TEST(ClipMultiplex, AgreesWithFfprobe) {
  struct Case {
    const char* file;
    int video_streams;
  } cases[] = {
      {"ps_vob.vob", 1}, {"ps_dvd.vob", 1},      {"ps_ac3x2.vob", 1}, {"ps_m1.mpg", 1},
      {"clips_2mp2.vob", 1}, {"ts_m2.ts", 1},    {"ts_2ac3.ts", 1},   {"ts_ac3mp2.ts", 1},
      {"ts_2p.ts", 2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const std::string file = tsupport::fixture(k.file);
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("clip " + tsupport::sh_quote(file), &lines), 0);
    ASSERT_FALSE(lines.empty());
    const std::string& line = lines[0];
    const std::vector<Stream> probe = ffprobe_streams(file);
    const Stream* video = nullptr;
    int audios = 0;
    for (const Stream& s : probe) {
      if (s.type == "video" && !video) video = &s;
      if (s.type == "audio") ++audios;
    }
    ASSERT_NE(video, nullptr);
    const int type = int(field_int(line, "type"));
    EXPECT_GE(type, 4);
    EXPECT_LE(type, 8);
    EXPECT_EQ(field_int(line, "width"), video->width);
    EXPECT_EQ(field_int(line, "height"), video->height);
    EXPECT_NEAR(std::stod(field(line, "frame_rate")), video->rate, 1e-4);
    EXPECT_EQ(field_int(line, "frames"), video->packets);
    EXPECT_EQ(field_int(line, "count"), video->packets);
    EXPECT_EQ(field_int(line, "audio_streams"), audios);
    // The chosen audio is one of the file's audio streams, with its facts.
    const int rate = int(field_int(line, "sample_rate")), channels = int(field_int(line, "channels"));
    bool found = false;
    for (const Stream& s : probe)
      if (s.type == "audio" && s.sample_rate == rate && s.channels == std::min(channels, 2)) found = true;
    if (!found)
      for (const Stream& s : probe)
        if (s.type == "audio" && s.sample_rate == rate && s.channels == channels) found = true;
    EXPECT_TRUE(found) << line;
    Clip c = verified(k.file);
    EXPECT_EQ(c.video_stream_count, k.video_streams);
  }
}

// The audio frame facts of a multiplex's chosen stream: the period from its
// header, the frame total as many as the stream's packets hold.
TEST(ClipMultiplex, AudioFramesOfChosenStream) {
  struct Case {
    const char* file;
    int audio_id, pid;
    int samples;
  } cases[] = {
      {"ps_vob.vob", 0xC0, 0, 1152},
      {"clips_2mp2.vob", 0xC1, 0, 1152},
      {"ts_m2.ts", 0, 0, 1152},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    DAList list;
    ASSERT_EQ(list.init(tsupport::fixture(k.file).c_str(), k.audio_id, k.pid), 0);
    EXPECT_NEAR(list.get_frame_period(), double(k.samples) / list.get_sample_rate(), 1e-9);
    int pid = 0;
    const int id = list.get_stream_id(&pid);
    if (k.audio_id) {
      EXPECT_EQ(id, k.audio_id);
    }
    int packets = 0;
    for (const Stream& s : ffprobe_streams(tsupport::fixture(k.file)))
      if (s.type == "audio" && (pid ? s.id == pid : (s.id & 0xFF) == id)) packets = s.packets;
    ASSERT_GT(packets, 0);
    // The length is the multiplex's measured length, a frame either side of
    // the audio packets.
    EXPECT_NEAR(list.get_length() / list.get_frame_period(), packets, 1.5);
  }
}

// Every kind of DVD audio has frame facts: LPCM in frames of 1152 samples,
// not the fallback period of an unknown stream.
TEST(ClipMultiplex, DvdAudioKindsHaveTheirFramePeriod) {
  struct Case {
    int id;
    double period;
  } cases[] = {{0x80, 1536.0 / 48000}, {0xC0, 1152.0 / 48000}, {0xA0, 1152.0 / 48000}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.id);
    DAList list;
    ASSERT_EQ(list.init(tsupport::fixture("ps_dvd.vob").c_str(), k.id, 0), 0);
    EXPECT_NEAR(list.get_frame_period(), k.period, 1e-9);
    EXPECT_NEAR(list.get_length(), 6.0, 0.1);
    Clip c = verified("ps_dvd.vob");
    if (c.audio_stream_id != k.id) {
      EXPECT_EQ(clip_select_audio_stream(&c, k.id, 0), 1);
    }
    EXPECT_NEAR(clip_get_frame_period(&c), k.period, 1e-9);
    EXPECT_NEAR(clip_get_length_time(&c), 6.0, 0.1);
  }
}

// A stream id the user asked for is kept even when another stream would be
// chosen by itself.
TEST(ClipMultiplex, ExplicitAudioIdIsNotReplaced) {
  Clip any = verified("clips_2mp2.vob");
  EXPECT_EQ(any.audio_stream_id, 0xC0);
  EXPECT_EQ(any.audio_stream_count, 2);
  Clip asked = verified("clips_2mp2.vob", 0xC1);
  EXPECT_EQ(asked.audio_stream_id, 0xC1);
  EXPECT_EQ(asked.audio_bit_rate, 224000);
  Clip again = verified("clips_2mp2b.vob", 0xC1);
  EXPECT_EQ(again.audio_stream_id, 0xC1);
}

// Two programs: without a wanted stream the audio is the video's program's,
// not a stream of the other program that the choice rule would prefer.
TEST(ClipMultiplex, TwoProgramsTakeAudioOfTheVideosProgram) {
  Clip c = verified("ts_2p.ts");
  EXPECT_EQ(c.audio_stream_count, 2);
  EXPECT_EQ(c.audio_stream_id, 0xC0);
  EXPECT_EQ(c.audio_layer, 2);
  Clip b = verified("ts_2p.ts", 0xBD);
  EXPECT_EQ(b.audio_stream_id, 0xBD);
}

// A stale wanted id falls back to the file's first audio stream, never to a
// stream that is no audio, and says so.
TEST(ClipMultiplex, StaleAudioIdFallsBackToFirstAudioStream) {
  for (const char* file : {"ps_dvd.vob", "clips_2mp2.vob", "ts_ac3mp2.ts"}) {
    SCOPED_TRACE(file);
    tsupport::TraceCapture trace;
    Clip c = verified(file, 0xC5);
    EXPECT_TRUE(trace.contains("not found")) << file;
    EXPECT_GT(c.sample_rate, 0);
    EXPECT_GT(c.channels, 0);
    EXPECT_TRUE((c.audio_stream_id >= 0xC0 && c.audio_stream_id <= 0xDF) ||
                (c.audio_stream_id >= 0x80 && c.audio_stream_id <= 0x87) ||
                (c.audio_stream_id >= 0xA0 && c.audio_stream_id <= 0xA7) || c.audio_stream_id == 0xBD)
        << std::hex << c.audio_stream_id;
  }
}

// Every audio stream of a multiplex (id, PID), as the file lists them.
std::vector<std::pair<int, int>> audio_streams_of(Clip* c) {
  ClipInfo info[16];
  clip_get_audio_es_info(c, info, 16);
  std::vector<std::pair<int, int>> out;
  // info[0] is the chosen stream, stream i follows at i + 1 (the chosen
  // one's own slot stays empty).
  for (const ClipInfo& i : info)
    if (i.stream_id) out.emplace_back(i.stream_id, i.pid);
  return out;
}

TEST(ClipSelectStream, AudioByIdOrPid) {
  struct Case {
    const char* file;
    int id, pid;
    int result;
    int bit_rate;  // expected after the call; 0: not checked
  } cases[] = {
      {"clips_2mp2.vob", 0xC1, 0, 1, 224000},
      {"clips_2mp2.vob", 0xC0, 0, 0, 192000},  // already chosen
      {"clips_2mp2.vob", 0xC7, 0, 0, 192000},  // not in the file
      {"ps_vob.vob", 0xC1, 0, 0, 0},           // one audio stream
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.file) + " " + std::to_string(k.id));
    Clip c = verified(k.file);
    const Clip before = c;
    EXPECT_EQ(clip_select_audio_stream(&c, k.id, k.pid), k.result);
    if (k.bit_rate) {
      EXPECT_EQ(c.audio_bit_rate, k.bit_rate);
    }
    if (!k.result) {
      EXPECT_TRUE(c.equals(before));
      EXPECT_EQ(c.audio_stream_id, before.audio_stream_id);
    }
  }
}

// Switching between an AC-3 and an MPEG audio stream changes the audio
// frame period: the old stream's period must not stay behind.
TEST(ClipSelectStream, AudioFramePeriodFollowsTheNewStream) {
  Clip c = verified("ps_dvd.vob");
  ASSERT_GE(c.audio_stream_count, 2);
  const double first = clip_get_frame_period(&c);
  EXPECT_GT(first, 0);
  std::map<int, double> period;
  for (auto [id, pid] : audio_streams_of(&c)) {
    if (!id) continue;
    Clip k = c;
    clip_select_audio_stream(&k, id, pid);
    if (k.audio_stream_id != id) continue;
    period[id] = clip_get_frame_period(&k);
    if (id == 0xC0) {
      EXPECT_NEAR(period[id], 1152.0 / 48000, 1e-9);
    }
    if (id >= 0x80 && id <= 0x87) {
      EXPECT_NEAR(period[id], 1536.0 / 48000, 1e-9);
    }
  }
  EXPECT_TRUE(period.count(0xC0));
}

// Transport streams: two AC-3 streams told apart by PID.
TEST(ClipSelectStream, AudioByPidInTransportStream) {
  Clip c = verified("ts_2ac3.ts");
  ASSERT_EQ(c.audio_stream_count, 2);
  const auto streams = audio_streams_of(&c);
  ASSERT_GE(streams.size(), 2u);
  int other_pid = 0, other_id = 0;
  for (auto [id, pid] : streams)
    if (pid != c.audio_pid) other_pid = pid, other_id = id;
  ASSERT_NE(other_pid, 0);
  const int ac3_channels = c.ac3_channels, bit_rate = c.audio_bit_rate;
  EXPECT_EQ(clip_select_audio_stream(&c, other_id, other_pid), 1);
  EXPECT_EQ(c.audio_pid, other_pid);
  // A stereo and a 5.1 stream.
  EXPECT_NE(c.audio_bit_rate, bit_rate);
  EXPECT_EQ(std::min(c.ac3_channels, ac3_channels), 2);
  EXPECT_EQ(std::max(c.ac3_channels, ac3_channels), 6);
  EXPECT_EQ(clip_select_audio_stream(&c, other_id, other_pid), 0);
}

// A transport stream with two programs: the second program's video (MPEG-1,
// another size) replaces every video fact and the range becomes the whole
// stream.
TEST(ClipSelectStream, VideoOfTheOtherProgram) {
  Clip c = verified("ts_2p.ts");
  ASSERT_EQ(c.video_stream_count, 2);
  ClipInfo info[8];
  clip_get_video_es_info(&c, info, 8);
  int other_id = 0, other_pid = 0;
  for (int i = 0; i < 8; ++i)
    if (info[i].pid && info[i].pid != c.video_pid) other_id = info[i].stream_id, other_pid = info[i].pid;
  ASSERT_NE(other_pid, 0);
  const int first_pid = c.video_pid, mpeg2 = c.mpeg2;
  c.start = 10;
  c.count = 20;
  EXPECT_EQ(clip_select_video_stream(&c, other_id, other_pid), 1);
  EXPECT_EQ(c.video_pid, other_pid);
  EXPECT_NE(c.mpeg2, mpeg2);
  EXPECT_EQ(c.start, 0);
  EXPECT_EQ(c.count, c.video_frame_total);
  EXPECT_EQ(clip_select_video_stream(&c, other_id, other_pid), 0);
  EXPECT_EQ(clip_select_video_stream(&c, 0xE0, 0x1FF0), 0);  // no such PID
  EXPECT_EQ(c.video_pid, other_pid);
  EXPECT_EQ(clip_select_video_stream(&c, 0xE0, first_pid), 1);
  Clip one = verified("ts_m2.ts");
  EXPECT_EQ(clip_select_video_stream(&one, 0xE0, 0x1FF0), 0);
}

MPEG_Clip* list_of(std::initializer_list<const char*> files) {
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (const char* f : files) {
    MPEG_Clip* c = mpeg_clip_of_file(tsupport::fixture(f).c_str(), 0, 0);
    EXPECT_NE(c, nullptr) << f;
    if (c) clip_list_link(&head, &tail, c);
  }
  return clip_update(head);
}

TEST(ClipSelectAudioTrack, Table) {
  struct Case {
    std::initializer_list<const char*> files;
    int index;
    bool ok;
  } cases[] = {
      {{"clips_2mp2.vob", "clips_2mp2.vob"}, 1, true},
      {{"clips_2mp2.vob", "clips_2mp2.vob"}, 0, true},
      {{"ps_dvd.vob", "ps_dvd.vob"}, 2, true},
      {{"ps_dvd.vob", "ps_vob.vob"}, 1, false},        // the second clip has one audio stream
      {{"clips_2mp2.vob", "clips_2mp2b.vob"}, 1, false}, // 224 against 192 kbit/s
      {{"clips_2mp2.vob", "clips_2mp2b.vob"}, 0, true},
      {{"clips_2mp2.vob"}, 2, false},                   // no third track
      {{"clips_2mp2.vob"}, -1, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(*k.files.begin()) + " " + std::to_string(k.index));
    MPEG_Clip* list = list_of(k.files);
    ASSERT_NE(list, nullptr);
    tsupport::TraceCapture trace;
    MPEG_Clip* out = mpeg_clip_select_audio_track(list, k.index);
    EXPECT_EQ(out != nullptr, k.ok);
    if (out) {
      EXPECT_EQ(clip_list_count(out), clip_list_count(list));
      EXPECT_EQ(mpeg_clip_list_total_frames(out, 1), mpeg_clip_list_total_frames(list, 1));
      for (MPEG_Clip* c = out; c; c = c->next) EXPECT_EQ(c->audio_stream_id, out->audio_stream_id);
      if (std::string(*k.files.begin()) == "clips_2mp2.vob") {
        EXPECT_EQ(out->audio_stream_id, 0xC0 + k.index);
      }
    } else {
      EXPECT_FALSE(trace.messages().empty());
    }
    mpeg_clip_list_free(out);
    mpeg_clip_list_free(list);
  }
  tsupport::TraceCapture trace;
  EXPECT_EQ(mpeg_clip_select_audio_track(nullptr, 0), nullptr);
  EXPECT_TRUE(trace.contains("ERROR (mpegclip_select_audio_track): in_list=nil\n"));
}

// Clip-list files and projects name the chosen streams; reading them back
// gives the same streams with their own facts.
TEST(ClipMultiplexFiles, ChosenStreamsSurviveWriteAndRead) {
  MPEG_Clip* list = list_of({"clips_2mp2.vob", "ts_2p.ts", "ts_2ac3.ts"});
  ASSERT_EQ(clip_list_count(list), 3);
  MPEG_Clip* a = list;
  MPEG_Clip* b = a->next;
  MPEG_Clip* t = b->next;
  ASSERT_EQ(clip_select_audio_stream(a, 0xC1, 0), 1);
  ClipInfo info[8];
  clip_get_video_es_info(b, info, 8);
  for (int i = 0; i < 8; ++i)
    if (info[i].pid && info[i].pid != b->video_pid) {
      ASSERT_EQ(clip_select_video_stream(b, info[i].stream_id, info[i].pid), 1);
      break;
    }
  b->start = 5;
  b->count = 30;
  for (auto [id, pid] : audio_streams_of(t))
    if (pid && pid != t->audio_pid) {
      ASSERT_EQ(clip_select_audio_stream(t, id, pid), 1);
      break;
    }
  list = clip_update(list);
  const std::string dir = tsupport::temp_dir();
  const std::string path = dir + "/streams list.txt";
  ASSERT_EQ(clip_save(list, path.c_str()), 3);
  FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  std::string name;
  int v1 = 0, v2 = 0, v3 = 0;
  MPEG_Clip* back = read_cliplist(f, &name, &v1, &v2, &v3, 0);
  std::fclose(f);
  ASSERT_EQ(clip_list_count(back), 3);
  const MPEG_Clip* r = back;
  for (const MPEG_Clip* c = list; c; c = c->next, r = r->next) {
    EXPECT_TRUE(c->equals(*r));
    EXPECT_EQ(r->audio_stream_id, c->audio_stream_id);
    EXPECT_EQ(r->audio_pid, c->audio_pid);
    EXPECT_EQ(r->audio_bit_rate, c->audio_bit_rate);
    EXPECT_EQ(r->channels, c->channels);
    EXPECT_EQ(r->video_pid, c->video_pid);
    EXPECT_EQ(r->mpeg2, c->mpeg2);
    EXPECT_EQ(r->start, c->start);
    EXPECT_EQ(r->count, c->count);
  }
  EClip* e = mpeg_clip_2_eclip(list);
  ASSERT_NE(e, nullptr);
  EditorRecordData rec;
  rec.set_project(*e);
  rec.second_file_name = dir + "/out.mpg";
  const std::string rec_path = dir + "/streams.rec";
  ASSERT_EQ(rec.save(rec_path.c_str(), "streams"), 0);
  EditorRecordData s;
  ASSERT_EQ(s.load(rec_path.c_str()), 0);
  ASSERT_EQ(s.project.clips.size(), e->clips.size());
  for (size_t i = 0; i < e->clips.size(); ++i) {
    const Clip& w = e->clips[i];
    const Clip& got = s.project.clips[i];
    EXPECT_TRUE(w.equals(got)) << i;
    EXPECT_EQ(got.audio_pid, w.audio_pid) << i;
    EXPECT_EQ(got.audio_bit_rate, w.audio_bit_rate) << i;
    EXPECT_EQ(got.channels, w.channels) << i;
    EXPECT_EQ(got.video_pid, w.video_pid) << i;
    EXPECT_EQ(got.mpeg2, w.mpeg2) << i;
  }
  delete e;
  mpeg_clip_list_free(back);
  mpeg_clip_list_free(list);
}

// A save job whose clips can no longer be read is an invalid file (2), not
// a job with nothing to save.
TEST(RecFile, ClipsThatFailToLoadGiveTwo) {
  const std::string dir = tsupport::temp_dir();
  const std::string media = dir + "/gone.vob";
  ASSERT_TRUE(tsupport::write_file(media, tsupport::read_file(tsupport::fixture("ps_vob.vob"))));
  MPEG_Clip* list = mpeg_clip_of_file(media.c_str(), 0, 0);
  ASSERT_NE(list, nullptr);
  EClip* e = mpeg_clip_2_eclip(list);
  EditorRecordData rec;
  rec.set_project(*e);
  rec.second_file_name = dir + "/out.mpg";
  const std::string path = dir + "/gone.rec";
  ASSERT_EQ(rec.save(path.c_str(), nullptr), 0);
  EditorRecordData ok;
  EXPECT_EQ(ok.load(path.c_str()), 0);
  ASSERT_EQ(std::remove(media.c_str()), 0);
  EditorRecordData s;
  EXPECT_EQ(s.load(path.c_str()), 2);
  EXPECT_TRUE(s.project.clips.empty());
  delete e;
  mpeg_clip_list_free(list);
}

// The head's transition survives the conversion from a project only when
// asked for, and then within the list's rules.
TEST(Project, HeadTransitionKeptOnlyWhenAsked) {
  MPEG_Clip* list = list_of({"ps_vob.vob", "ts_m2.ts"});
  ASSERT_NE(list, nullptr);
  EClip* e = mpeg_clip_2_eclip(list);
  ASSERT_NE(e, nullptr);
  e->clips[0].transition_id = 1;
  e->clips[0].transition_length = 10;
  MPEG_Clip* plain = eclip_2_mpeg_clip(*e, 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->transition_id, 0);
  EXPECT_EQ(plain->transition_length, 0);
  EXPECT_EQ(mpeg_clip_list_total_frames(plain, 1), mpeg_clip_list_total_frames(list, 1));
  mpeg_clip_list_free(plain);
  delete e;
  mpeg_clip_list_free(list);
}

}  // namespace
