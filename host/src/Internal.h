// Every internal structure of the host library, for code outside it that
// reaches into them (the fuzzers and the hostile-host tests). The library's
// own files include only the component headers they use. Nothing here is
// part of the public interface.
#pragma once

#include "Bundles.h"
#include "Effects.h"
#include "Handles.h"
#include "HostState.h"
#include "Messages.h"
#include "Parameters.h"
#include "Properties.h"
#include "Suites.h"
#include "Threads.h"
