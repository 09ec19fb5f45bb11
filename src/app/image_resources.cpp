#include "app/image_resources.h"

#include <QtGlobal>

// Registering the same resource data again is a no-op.
void psInitImageResources() { Q_INIT_RESOURCE(image); }
