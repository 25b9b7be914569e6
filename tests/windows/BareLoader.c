/* bare-loader SCRATCH BUNDLE...
 *
 * Loads plug-in bundles the way a host that shares no code with ours does:
 * the Windows loader and the C interface alone, with the standard's record
 * and host structures written out here rather than taken from our headers.
 * Each bundle's binary is first copied under SCRATCH into a folder whose
 * name holds non-ASCII characters, and loaded from there by its UTF-16 path.
 * For every plug-in it prints "plugin ID API VERSION MAJOR.MINOR", then
 * sends the load action from a host that offers no suite at all, which a
 * plug-in must answer with a status (it needs suites), not a crash; that
 * status is printed as "load ID STATUS". Exits non-zero on any failure. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

typedef int Status;
typedef struct PropertySet *PropertySetHandle;

typedef struct Host {
  PropertySetHandle host;
  const void *(*fetchSuite)(PropertySetHandle host, const char *suite,
                            int version);
} Host;

typedef struct PluginRecord {
  const char *pluginApi;
  int apiVersion;
  const char *pluginIdentifier;
  unsigned int pluginVersionMajor;
  unsigned int pluginVersionMinor;
  void (*setHost)(Host *host);
  Status (*mainEntry)(const char *action, const void *handle,
                      PropertySetHandle inArgs, PropertySetHandle outArgs);
} PluginRecord;

static const Status kMissingHostFeature = 4;

static const void *noSuite(PropertySetHandle host, const char *suite,
                           int version) {
  (void)host;
  (void)suite;
  (void)version;
  return NULL;
}

static wchar_t *widen(const char *text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
  wchar_t *wide = (wchar_t *)calloc((size_t)n, sizeof(wchar_t));
  if (wide)
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, n);
  return wide;
}

/* The name of a bundle folder, "NAME" of ".../NAME.ofx.bundle". */
static int bundleName(const wchar_t *bundle, wchar_t *name, size_t size) {
  const wchar_t *start = bundle;
  for (const wchar_t *p = bundle; *p; ++p)
    if ((*p == L'/' || *p == L'\\') && p[1])
      start = p + 1;
  const wchar_t *end = wcsstr(start, L".ofx.bundle");
  if (!end || (size_t)(end - start) >= size)
    return 0;
  wcsncpy(name, start, (size_t)(end - start));
  name[end - start] = 0;
  return 1;
}

/* Appends "\\part" to the folder path `dir` and makes that folder. */
static void enterFolder(wchar_t *dir, size_t size, const wchar_t *part) {
  const size_t used = wcslen(dir);
  swprintf(dir + used, size - used, L"\\%ls", part);
  CreateDirectoryW(dir, NULL);
}

/* SCRATCH\Plug-ins éü 漢字\NAME.ofx.bundle\Contents\Win64\NAME.ofx, made
 * folder by folder and holding a copy of the bundle's binary. */
static int copyIntoNonAsciiFolder(const wchar_t *scratch, const wchar_t *bundle,
                                  wchar_t *copy, size_t size) {
  wchar_t name[MAX_PATH], folder[MAX_PATH], source[2 * MAX_PATH],
      dir[2 * MAX_PATH];
  if (!bundleName(bundle, name, MAX_PATH))
    return 0;
  swprintf(source, 2 * MAX_PATH, L"%ls\\Contents\\Win64\\%ls.ofx", bundle,
           name);
  swprintf(folder, MAX_PATH, L"%ls.ofx.bundle", name);
  wcscpy(dir, scratch);
  enterFolder(dir, 2 * MAX_PATH, L"Plug-ins \u00e9\u00fc \u6f22\u5b57");
  enterFolder(dir, 2 * MAX_PATH, folder);
  enterFolder(dir, 2 * MAX_PATH, L"Contents");
  enterFolder(dir, 2 * MAX_PATH, L"Win64");
  swprintf(copy, size, L"%ls\\%ls.ofx", dir, name);
  return CopyFileW(source, copy, FALSE) != 0;
}

static int loadBundle(const wchar_t *scratch, const char *bundleUtf8) {
  wchar_t *bundle = widen(bundleUtf8);
  wchar_t binary[2 * MAX_PATH];
  if (!bundle ||
      !copyIntoNonAsciiFolder(scratch, bundle, binary, 2 * MAX_PATH)) {
    printf("error %s: cannot copy its binary (%lu)\n", bundleUtf8,
           GetLastError());
    free(bundle);
    return 0;
  }
  free(bundle);
  HMODULE module = LoadLibraryW(binary);
  if (!module) {
    printf("error %s: LoadLibraryW failed (%lu)\n", bundleUtf8, GetLastError());
    return 0;
  }
  typedef int (*CountFn)(void);
  typedef PluginRecord *(*GetFn)(int);
  CountFn count =
      (CountFn)(void (*)(void))GetProcAddress(module, "OfxGetNumberOfPlugins");
  GetFn get = (GetFn)(void (*)(void))GetProcAddress(module, "OfxGetPlugin");
  if (!count || !get) {
    printf("error %s: the entry points are not exported\n", bundleUtf8);
    FreeLibrary(module);
    return 0;
  }
  int ok = 1;
  const int n = count();
  Host host = {NULL, noSuite};
  for (int i = 0; i < n; ++i) {
    PluginRecord *record = get(i);
    if (!record || !record->pluginIdentifier || !record->mainEntry) {
      printf("error %s: record %d is incomplete\n", bundleUtf8, i);
      ok = 0;
      continue;
    }
    printf("plugin %s %s %d %u.%u\n", record->pluginIdentifier,
           record->pluginApi, record->apiVersion, record->pluginVersionMajor,
           record->pluginVersionMinor);
    if (record->setHost)
      record->setHost(&host);
    const Status status = record->mainEntry("OfxActionLoad", NULL, NULL, NULL);
    printf("load %s %d\n", record->pluginIdentifier, status);
    if (status != kMissingHostFeature)
      ok = 0;
  }
  FreeLibrary(module);
  return ok && n > 0;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: bare-loader SCRATCH BUNDLE...\n");
    return 2;
  }
  wchar_t *scratch = widen(argv[1]);
  CreateDirectoryW(scratch, NULL);
  int ok = 1;
  for (int i = 2; i < argc; ++i)
    ok = loadBundle(scratch, argv[i]) && ok;
  free(scratch);
  return ok ? 0 : 1;
}
