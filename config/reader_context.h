// What the parameter file reader hands the checks it calls: the driver being
// configured and the open module-type database.
#pragma once

namespace host {
class IniFile;
}

namespace tovi {

struct DriverInstance;

struct ReaderContext {
    DriverInstance& driver;
    host::IniFile& types;  // tovi.ini, open for the whole reading
};

}  // namespace tovi
