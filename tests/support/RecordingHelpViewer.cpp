#include "support/RecordingHelpViewer.h"
