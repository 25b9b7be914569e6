// Looking at a plug-in binary before this process trusts it. A binary cut
// short can fault inside the system's loader itself (SIGBUS in dlopen), and
// a plug-in can crash in its entry points or its load action; any of these
// would take every command down with it. So the binary's headers are
// checked against the file, and its records are read, and its plug-ins
// loaded and described, in a child process whose death is only a reason to
// report.
#include "Bundles.h"
#include "HostState.h"
#include "Platform.h"

#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace ofxhost {
namespace {

// "30 s", or "250 ms" for limits of no whole number of seconds.
std::string durationText(int ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s"
                        : std::to_string(ms) + " ms";
}

// One line for the parent; fields must hold no tab or newline.
std::string answerLine(const std::vector<std::string> &fields) {
  std::string line;
  for (const std::string &field : fields) {
    if (!line.empty())
      line += '\t';
    for (char c : field)
      line += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  }
  line += '\n';
  return line;
}

std::vector<std::string> splitFields(const std::string &line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t'))
    fields.push_back(field);
  return fields;
}

int toInt(const std::string &text) {
  try {
    return std::stoi(text);
  } catch (...) {
    return 0;
  }
}

} // namespace

void answerProbe(Host::Impl &host, const std::string &bundlePath,
                 const std::string &binary, bool runActions,
                 const std::function<void(const std::string &)> &send) {
  auto sendLine = [&send](const std::vector<std::string> &fields) {
    send(answerLine(fields));
  };
  std::vector<ProbedRecord> records;
  std::string error =
      readBinaryRecords(binary, records, [&sendLine](const std::string &stage) {
        sendLine({"S", stage});
      });
  if (!error.empty()) {
    sendLine({"E", error});
    return;
  }
  // A binary may report one plug-in many times; the host uses the first,
  // so only that one is loaded and described.
  std::unordered_set<std::string> actionsRun;
  for (const ProbedRecord &probed : records) {
    if (!probed.problem.empty()) {
      sendLine({"R", std::to_string(probed.index), probed.problem});
      continue;
    }
    sendLine({"P", std::to_string(probed.index), probed.identifier, probed.api,
              std::to_string(probed.apiVersion),
              std::to_string(probed.versionMajor),
              std::to_string(probed.versionMinor)});
    if (!runActions || !actionsRun.insert(probed.identifier).second)
      continue;
    auto impl = std::make_unique<Plugin::Impl>();
    impl->host = &host;
    impl->record = probed.record;
    impl->identifier = probed.identifier;
    impl->bundlePath = bundlePath;
    impl->binaryPath = binary;
    Plugin plugin(std::move(impl));
    sendLine({"S", "loading " + probed.identifier});
    const ActionResult loaded = plugin.load();
    if (!loaded.ok()) {
      sendLine({"L", std::to_string(probed.index),
                std::to_string(loaded.status), loaded.message});
      continue;
    }
    sendLine({"S", "describing " + probed.identifier});
    if (plugin.describe().ok())
      sendLine({"D", std::to_string(probed.index), plugin.label()});
  }
  sendLine({"OK"});
}

namespace {

// Turns the child's lines into probe's findings; false when it never said
// it was done.
bool parseProbeAnswer(const std::string &text, BundleProbe &probe,
                      std::string &stage) {
  std::istringstream in(text);
  std::string line;
  bool done = false;
  std::unordered_map<int, size_t> placeOfIndex;
  auto recordAt = [&probe, &placeOfIndex](int index) -> ProbedRecord & {
    const auto placed = placeOfIndex.emplace(index, probe.records.size());
    if (placed.second) {
      probe.records.push_back(ProbedRecord{});
      probe.records.back().index = index;
    }
    return probe.records[placed.first->second];
  };
  while (std::getline(in, line)) {
    const std::vector<std::string> f = splitFields(line);
    if (f.empty())
      continue;
    const std::string &kind = f[0];
    if (kind == "S" && f.size() >= 2) {
      stage = f[1];
    } else if (kind == "E" && f.size() >= 2) {
      probe.error = f[1];
      done = true;
    } else if (kind == "R" && f.size() >= 3) {
      recordAt(toInt(f[1])).problem = f[2];
    } else if (kind == "P" && f.size() >= 7) {
      ProbedRecord &record = recordAt(toInt(f[1]));
      record.identifier = f[2];
      record.api = f[3];
      record.apiVersion = toInt(f[4]);
      record.versionMajor = static_cast<unsigned>(toInt(f[5]));
      record.versionMinor = static_cast<unsigned>(toInt(f[6]));
    } else if (kind == "L" && f.size() >= 4) {
      ProbedRecord &record = recordAt(toInt(f[1]));
      record.loadResult.status = toInt(f[2]);
      record.loadResult.message = f[3];
    } else if (kind == "D" && f.size() >= 2) {
      ProbedRecord &record = recordAt(toInt(f[1]));
      record.described = true;
      record.label = f.size() >= 3 ? f[2] : "";
    } else if (kind == "OK") {
      done = true;
    }
  }
  return done;
}

} // namespace

std::string
readBinaryRecords(const std::string &binary, std::vector<ProbedRecord> &records,
                  const std::function<void(const std::string &)> &stage,
                  void **libraryOut) {
  stage("checking the binary");
  std::string problem = platform::checkBinaryFile(binary);
  if (!problem.empty())
    return problem;
  stage("opening the binary");
  void *library = platform::openLibrary(binary, problem);
  if (!library)
    return "cannot load the binary: " + problem;
  using CountFn = int (*)();
  using GetFn = OfxPlugin *(*)(int);
  auto count = reinterpret_cast<CountFn>(
      platform::librarySymbol(library, "OfxGetNumberOfPlugins"));
  auto get =
      reinterpret_cast<GetFn>(platform::librarySymbol(library, "OfxGetPlugin"));
  if (!count || !get) {
    platform::closeLibrary(library);
    return std::string("the binary does not export ") +
           (!count ? "OfxGetNumberOfPlugins" : "OfxGetPlugin");
  }
  int n = 0;
  stage("calling OfxGetNumberOfPlugins");
  try {
    n = count();
  } catch (...) {
    platform::closeLibrary(library);
    return "OfxGetNumberOfPlugins threw an exception";
  }
  if (n <= 0) {
    platform::closeLibrary(library);
    return "the binary reports " + std::to_string(n) + " plug-ins";
  }
  for (int i = 0; i < n; ++i) {
    stage("calling OfxGetPlugin(" + std::to_string(i) + ")");
    ProbedRecord probed;
    probed.index = i;
    try {
      probed.record = get(i);
    } catch (...) {
      probed.record = nullptr;
    }
    probed.problem = checkRecord(probed.record, i);
    if (probed.problem.empty()) {
      probed.identifier = probed.record->pluginIdentifier;
      probed.api = probed.record->pluginApi;
      probed.apiVersion = probed.record->apiVersion;
      probed.versionMajor = probed.record->pluginVersionMajor;
      probed.versionMinor = probed.record->pluginVersionMinor;
    }
    records.push_back(std::move(probed));
  }
  if (libraryOut)
    *libraryOut = library;
  return "";
}

BundleProbe probeInChild(Host::Impl &host, const std::string &bundlePath,
                         const std::string &binary, bool runActions) {
  BundleProbe probe;
  const int timeoutMs = host.options.probeTimeoutMs;
  const platform::ProbeRun run = platform::runProbe(
      host.options.probeProgram,
      {bundlePath, binary, runActions ? "actions" : "records"}, timeoutMs,
      host.options.stopRequested, [&](const platform::AnswerWriter &send) {
        answerProbe(host, bundlePath, binary, runActions, send);
      });
  if (!run.startError.empty()) {
    probe.error = run.startError;
    probe.lasting = false;
    return probe;
  }
  if (run.stopped) {
    probe.error = "stopped before it was read";
    probe.stopped = true;
    probe.lasting = false;
    return probe;
  }
  std::string stage = "starting";
  if (parseProbeAnswer(run.output, probe, stage))
    return probe;
  probe.records.clear();
  if (run.timedOut)
    probe.error = "the plug-in did not answer within " +
                  durationText(timeoutMs) + " while " + stage;
  else
    probe.error = "the plug-in " + run.ending + " while " + stage;
  return probe;
}

} // namespace ofxhost
