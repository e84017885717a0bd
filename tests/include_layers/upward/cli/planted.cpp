// The command line naming the GUI's platform part: refused too.
#include "platform/ui/dialogs.h"
