// The record a run shares with its dialog lives with the dialog (ui/progress_context.h); this
// name is kept for the driver's code that still includes it from here.
#pragma once
#include "ui/progress_context.h"
