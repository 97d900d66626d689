#include "Cli.h"

namespace tessarook::cli {

std::string Context::SchemesDir() const { return schemesDirOption; }

}  // namespace tessarook::cli
