// Cabinets through libgcab.
#include <libgcab.h>
#include <utime.h>

#include <algorithm>

#include "packtool/cabinet.h"
#include "packtool/file_access.h"
#include "sys/safe_names.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {

// Owns one GObject reference.
template <typename T>
class GRef {
 public:
  explicit GRef(T* object = nullptr) : object_(object) {}
  ~GRef() {
    if (object_) g_object_unref(object_);
  }
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_;
};

// Takes the message of a GError and frees it.
std::wstring Take(GError*& error, const std::wstring& fallback) {
  std::wstring text = fallback;
  if (error) {
    text = fallback + L": " + WideFromUtf8(error->message);
    g_error_free(error);
    error = nullptr;
  }
  return text;
}

GFile* NewFile(const std::wstring& path) { return g_file_new_for_path(FsPath(path).c_str()); }

struct WriteState {
  size_t done = 0, total = 0;
  const CabinetProgress* progress = nullptr;
};

gboolean OnFileWritten(GCabFile*, gpointer data) {
  auto* state = static_cast<WriteState*>(data);
  ++state->done;
  if (*state->progress) (*state->progress)(state->done, state->total);
  return TRUE;
}

struct ReadState {
  std::vector<std::wstring>* names = nullptr;
};

// Decides for each entry whether it is extracted, and where.
gboolean OnFileRead(GCabFile* file, gpointer data) {
  auto* state = static_cast<ReadState*>(data);
  const std::wstring name = WideFromUtf8(gcab_file_get_name(file));
  state->names->push_back(name);
  if (!IsSafeRelativePath(name)) return FALSE;
  std::string extract = gcab_file_get_name(file);
  for (char& c : extract)
    if (c == '\\') c = '/';
  gcab_file_set_extract_name(file, extract.c_str());
  return TRUE;
}

}  // namespace

bool WriteCabinet(const std::wstring& path, const std::vector<CabinetEntry>& entries, std::wstring& reason,
                  const CabinetProgress& progress) {
  GRef<GCabCabinet> cabinet(gcab_cabinet_new());
  GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_MSZIP);
  GError* error = nullptr;
  for (const CabinetEntry& entry : entries) {
    GRef<GFile> source(NewFile(entry.source));
    GRef<GCabFile> file(gcab_file_new_with_file(Utf8FromWide(entry.name).c_str(), source.get()));
    if (!gcab_folder_add_file(folder, file.get(), FALSE, nullptr, &error)) {
      reason = Take(error, entry.source + L": cannot add the file");
      g_object_unref(folder);
      return false;
    }
  }
  const bool added = gcab_cabinet_add_folder(cabinet.get(), folder, &error);
  g_object_unref(folder);
  if (!added) {
    reason = Take(error, L"cannot build the cabinet");
    return false;
  }
  GRef<GFile> out(NewFile(path));
  GRef<GFileOutputStream> stream(
      g_file_replace(out.get(), nullptr, FALSE, G_FILE_CREATE_NONE, nullptr, &error));
  if (!stream) {
    reason = Take(error, path + L": cannot write the file");
    return false;
  }
  WriteState state;
  state.total = entries.size();
  state.progress = &progress;
  const bool written = gcab_cabinet_write(cabinet.get(), G_OUTPUT_STREAM(stream.get()), OnFileWritten,
                                          nullptr, &state, nullptr, &error);
  if (!written) {
    reason = Take(error, path + L": cannot write the cabinet");
    return false;
  }
  if (!g_output_stream_close(G_OUTPUT_STREAM(stream.get()), nullptr, &error)) {
    reason = Take(error, path + L": cannot finish the file");
    return false;
  }
  return true;
}

bool ReadCabinet(const std::wstring& path, const std::wstring& folder, std::vector<std::wstring>& names,
                 std::wstring& reason) {
  names.clear();
  GError* error = nullptr;
  GRef<GFile> file(NewFile(path));
  GRef<GFileInputStream> in(g_file_read(file.get(), nullptr, &error));
  if (!in) {
    reason = Take(error, L"cannot read the file");
    return false;
  }
  GRef<GCabCabinet> cabinet(gcab_cabinet_new());
  if (!gcab_cabinet_load(cabinet.get(), G_INPUT_STREAM(in.get()), nullptr, &error)) {
    reason = Take(error, L"not a cabinet");
    return false;
  }
  GRef<GFile> destination(NewFile(folder));
  ReadState state;
  state.names = &names;
  if (!gcab_cabinet_extract_simple(cabinet.get(), destination.get(), OnFileRead, &state, nullptr, &error)) {
    reason = Take(error, L"cannot extract the cabinet");
    return false;
  }
  // The files carry the cabinet's time stamps, as the program's extraction gives them.
  GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
  for (guint i = 0; folders && i < folders->len; ++i) {
    GSList* files = gcab_folder_get_files(GCAB_FOLDER(g_ptr_array_index(folders, i)));
    for (GSList* f = files; f; f = f->next) {
      GCabFile* file = GCAB_FILE(f->data);
      const std::wstring name = WideFromUtf8(gcab_file_get_name(file));
      GDateTime* stamp = gcab_file_get_date_time(file);
      if (!IsSafeRelativePath(name) || !stamp) {
        if (stamp) g_date_time_unref(stamp);
        continue;
      }
      struct utimbuf times;
      times.actime = times.modtime = static_cast<time_t>(g_date_time_to_unix(stamp));
      g_date_time_unref(stamp);
      std::wstring extracted = name;  // stored with '\', extracted into sub-folders
      std::replace(extracted.begin(), extracted.end(), L'\\', L'/');
      utime(FsPath(folder + L"/" + extracted).c_str(), &times);
    }
    g_slist_free(files);
  }
  return true;
}

}  // namespace brindle::pack
