// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TessarookApp.h"

wxIMPLEMENT_APP(tessarook::CTessarookApp);
