// The plug-in cache: what probing each binary found, kept between runs so
// that a scan probes only new or changed bundles, and a bundle that hangs
// costs its time limit once rather than on every command.
//
// The file is text: a first line naming the format and its version, then
// per binary a "B" line (path, size, modification time, the host's
// fingerprint, the error, the number of records) followed by one "R" line
// per record, then an "end" line with the number of binaries. Fields are
// separated by tabs, with backslash, tab, newline and carriage return
// escaped. Anything else (a file cut short, damaged, of another format or
// version) is ignored as a whole and written anew: the cache only ever
// saves work, it is never trusted over a probe.
//
// Processes started side by side share the file: each writes a complete
// file under a name of its own in the same folder and renames it into
// place, so a reader sees one whole file or another, never a mix.
#include "Bundles.h"
#include "Platform.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace ofxhost {
namespace fs = std::filesystem;
using platform::fromPath;
using platform::toPath;

namespace {

const char *const kMagic = "qeffects ofxhost plug-in cache, version 1";

struct FileStamp {
  std::string size;
  std::string modified;
};

bool stampOf(const std::string &binary, FileStamp &stamp) {
  std::error_code ec;
  const fs::path path = toPath(binary);
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec)
    return false;
  const fs::file_time_type modified = fs::last_write_time(path, ec);
  if (ec)
    return false;
  stamp.size = std::to_string(size);
  stamp.modified = std::to_string(modified.time_since_epoch().count());
  return true;
}

std::string escaped(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// false for an escape this file never writes.
bool unescaped(const std::string &text, std::string &out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size())
      return false;
    switch (text[i]) {
    case '\\':
      out += '\\';
      break;
    case 't':
      out += '\t';
      break;
    case 'n':
      out += '\n';
      break;
    case 'r':
      out += '\r';
      break;
    default:
      return false;
    }
  }
  return true;
}

// The line's fields, unescaped; false when there are not exactly count or
// one cannot be read.
bool splitLine(const std::string &line, size_t count,
               std::vector<std::string> &fields) {
  fields.clear();
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    std::string field;
    if (!unescaped(line.substr(start, tab - start), field))
      return false;
    fields.push_back(std::move(field));
    if (tab == std::string::npos)
      break;
    start = tab + 1;
  }
  return fields.size() == count;
}

// A whole decimal number that fits, and nothing else.
bool number(const std::string &text, long long &value) {
  if (text.empty() || text.size() > 18)
    return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size())
    return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9')
      return false;
  value = std::stoll(text);
  return true;
}

std::string joined(const std::vector<std::string> &fields) {
  std::string line;
  for (const std::string &field : fields) {
    if (!line.empty())
      line += '\t';
    line += escaped(field);
  }
  return line + '\n';
}

} // namespace

struct PluginCache::Entry {
  FileStamp stamp;
  std::string fingerprint;
  std::string error;
  std::vector<ProbedRecord> records;
};

namespace {

using Entries = std::map<std::string, PluginCache::Entry>;

bool readRecord(const std::string &line, ProbedRecord &record) {
  std::vector<std::string> f;
  long long index = 0, apiVersion = 0, major = 0, minor = 0, status = 0,
            described = 0;
  if (!splitLine(line, 12, f) || f[0] != "R" || !number(f[1], index) ||
      !number(f[5], apiVersion) || !number(f[6], major) ||
      !number(f[7], minor) || !number(f[8], status) ||
      !number(f[10], described))
    return false;
  record.index = static_cast<int>(index);
  record.problem = f[2];
  record.identifier = f[3];
  record.api = f[4];
  record.apiVersion = static_cast<int>(apiVersion);
  record.versionMajor = static_cast<unsigned>(major);
  record.versionMinor = static_cast<unsigned>(minor);
  record.loadResult.status = static_cast<OfxStatus>(status);
  record.loadResult.message = f[9];
  record.described = described != 0;
  record.label = f[11];
  return true;
}

// The entries of a whole, well-formed file; false for anything else.
bool readEntries(std::istream &in, Entries &entries) {
  std::string line;
  if (!std::getline(in, line) || line != kMagic)
    return false;
  std::vector<std::string> f;
  long long binaries = 0;
  while (std::getline(in, line)) {
    if (splitLine(line, 2, f) && f[0] == "end")
      return number(f[1], binaries) &&
             binaries == static_cast<long long>(entries.size()) &&
             !std::getline(in, line);
    long long records = 0;
    if (!splitLine(line, 7, f) || f[0] != "B" || !number(f[6], records) ||
        records < 0)
      return false;
    PluginCache::Entry entry;
    entry.stamp = FileStamp{f[2], f[3]};
    entry.fingerprint = f[4];
    entry.error = f[5];
    for (long long i = 0; i < records; ++i) {
      ProbedRecord record;
      if (!std::getline(in, line) || !readRecord(line, record))
        return false;
      entry.records.push_back(std::move(record));
    }
    entries[f[1]] = std::move(entry);
  }
  return false; // no end line: cut short
}

Entries readFile(const std::string &path) {
  Entries entries;
  std::ifstream in(toPath(path), std::ios::binary);
  if (!in || !readEntries(in, entries))
    entries.clear();
  return entries;
}

void writeEntries(std::ostream &out, const Entries &entries) {
  out << kMagic << '\n';
  for (const auto &[binary, entry] : entries) {
    out << joined({"B", binary, entry.stamp.size, entry.stamp.modified,
                   entry.fingerprint, entry.error,
                   std::to_string(entry.records.size())});
    for (const ProbedRecord &r : entry.records)
      out << joined(
          {"R", std::to_string(r.index), r.problem, r.identifier, r.api,
           std::to_string(r.apiVersion), std::to_string(r.versionMajor),
           std::to_string(r.versionMinor), std::to_string(r.loadResult.status),
           r.loadResult.message, r.described ? "1" : "0", r.label});
  }
  out << joined({"end", std::to_string(entries.size())});
}

// A name in the cache's folder that no other process picks.
fs::path temporaryBeside(const fs::path &target) {
  std::random_device random;
  std::ostringstream name;
  name << "." << fromPath(target.filename()) << ".tmp-" << std::hex << random()
       << random();
  return target.parent_path() / toPath(name.str());
}

} // namespace

PluginCache::PluginCache(std::string path, std::string fingerprint, bool rescan)
    : path_(std::move(path)), fingerprint_(std::move(fingerprint)),
      loaded_(rescan) {}

PluginCache::~PluginCache() = default;

void PluginCache::load() {
  if (loaded_)
    return;
  loaded_ = true;
  entries_ = readFile(path_);
}

bool PluginCache::find(const std::string &binary, BundleProbe &probe) {
  load();
  const auto found = entries_.find(binary);
  FileStamp stamp;
  if (found == entries_.end() || !stampOf(binary, stamp))
    return false;
  const Entry &entry = found->second;
  if (entry.stamp.size != stamp.size ||
      entry.stamp.modified != stamp.modified ||
      entry.fingerprint != fingerprint_)
    return false;
  probe.error = entry.error;
  probe.records = entry.records;
  return true;
}

void PluginCache::remember(const std::string &binary,
                           const BundleProbe &probe) {
  Entry entry;
  if (!probe.lasting || !stampOf(binary, entry.stamp))
    return;
  load();
  entry.fingerprint = fingerprint_;
  entry.error = probe.error;
  entry.records = probe.records;
  for (ProbedRecord &record : entry.records)
    record.record = nullptr;
  entries_[binary] = std::move(entry);
  changed_.insert(binary);
}

void PluginCache::save() {
  if (changed_.empty())
    return;
  // Another process may have written the file since it was read: its
  // findings for other binaries are kept, those for binaries gone dropped.
  Entries merged = readFile(path_);
  for (const std::string &binary : changed_)
    merged[binary] = entries_[binary];
  for (auto it = merged.begin(); it != merged.end();) {
    std::error_code ec;
    it = fs::exists(toPath(it->first), ec) ? std::next(it) : merged.erase(it);
  }
  const fs::path target = toPath(path_);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  const fs::path temporary = temporaryBeside(target);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    writeEntries(out, merged);
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      return; // a cache that cannot be written only costs time
    }
  }
  fs::rename(temporary, target, ec);
  if (ec)
    fs::remove(temporary, ec);
  entries_ = std::move(merged);
  changed_.clear();
}

} // namespace ofxhost
