// The language runtime in one include.
#pragma once
#include "runtime/errors.h"
#include "runtime/events.h"
#include "runtime/files.h"
#include "runtime/foreign.h"
#include "runtime/ini.h"
#include "runtime/process.h"
#include "runtime/strings.h"
#include "runtime/system.h"
#include "runtime/value.h"
#include "runtime/windows.h"
