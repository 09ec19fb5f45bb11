// The images compiled into the program's library (":/image/..."), registered on first use.
#pragma once

void psInitImageResources();
