#pragma once
// Everything the program asks of the operating system. Only src/platform/ includes OS headers.
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/text.h"
#include "platform/thread.h"
