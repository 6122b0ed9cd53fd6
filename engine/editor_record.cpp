#include "engine/editor_record.h"

#include "foundation/trace.h"

void editor_record_set_editor(EditorRecordData* rec, MPEG_Editor* editor) {
  if (!rec || !editor) return;
  auto whole = editor->frame_copy(0, 0);
  if (!whole) return;
  rec->set_project(*whole);
  editor_record_update_range(rec, editor);
}

void editor_record_update_range(EditorRecordData* rec, MPEG_Editor* editor) {
  if (!rec || !editor || !editor->engine()) return;
  rec->total = editor->get_total_frames();
  if (rec->start >= rec->total || rec->start < 0) rec->start = 0;
  if (rec->count <= 0 || rec->count > rec->total - rec->start) rec->count = rec->total - rec->start;
}

int editor_record_load(EditorRecordData* rec, const char* file_name, std::unique_ptr<MPEG_Editor>* editor,
                       int size_mode) {
  if (!rec || !editor) return 2;
  EditorRecordData loaded;
  const int r = loaded.load(file_name);
  if (r) return r;
  // A save project without clips saves nothing: it is no valid job.
  if (loaded.project.clips.empty()) {
    trace("EditorRecordData::load (ERROR): no clips\n");
    return 2;
  }
  if (!*editor) {
    int err = 0;
    auto made = std::make_unique<MPEG_Editor>(loaded.project, &err, size_mode, 0, 0);
    if (err) return 2;
    *editor = std::move(made);
  } else if (!(*editor)->replace(loaded.project)) {
    return 2;
  }
  *rec = loaded;
  editor_record_update_range(rec, editor->get());
  return 0;
}
