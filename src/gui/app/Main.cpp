#include "app/TessarookApp.h"

wxIMPLEMENT_APP(tessarook::CTessarookApp);
