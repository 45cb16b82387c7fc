// Every text the driver shows, in Windows-1250. The host receives these bytes as
// they stand; quoted details are appended by the code that reports the fault.
#pragma once

#include "diagnostics/cp1250.h"

namespace tovi::messages {

using text::Cp1250;

// Driver identity and the information page.
inline constexpr auto kDriverInfo = Cp1250("TOVI 4000/5000 v4.0");
inline constexpr auto kDriverTitle = Cp1250("Ovladač pro moduly TOVI 4000/5000");
inline constexpr auto kNoticeDeviceErrors = Cp1250("Chyby zařízení se zobrazují na řádku výše.");
inline constexpr auto kNoticeErrorLog = Cp1250("Podrobný záznam chyb zapíná volba debug.");

// Start-up.
inline constexpr auto kInternalError = Cp1250("Vnitřní chyba");

// Parameter file.
inline constexpr auto kCannotOpenParameterFile = Cp1250("Nelze otevřít parametrický soubor");
inline constexpr auto kCannotOpenTypeDatabase = Cp1250("Nelze otevřít soubor TOVI.INI");
inline constexpr auto kInvalidParameterFile = Cp1250("Neplatný formát parametrického souboru");
inline constexpr auto kNoModuleDefined = Cp1250("Parametrický soubor: Není definován žádný modul");
inline constexpr auto kModuleNameExists = Cp1250("Parametrický soubor: Jméno modulu již existuje");
inline constexpr auto kModuleSectionMissing = Cp1250("Parametrický soubor: Nejsou definovány parametry modulu");
inline constexpr auto kUnknownIoType = Cp1250("Parametrický soubor: Neznámý I/O typ");
inline constexpr auto kInvalidPortNumber = Cp1250("Parametrický soubor: Neplatné číslo I/O portu");
inline constexpr auto kInvalidBitNumber = Cp1250("Parametrický soubor: Neplatné číslo I/O bitu");
inline constexpr auto kInvalidChannelNumber = Cp1250("Parametrický soubor: Neplatné číslo kanálu");
inline constexpr auto kDuplicateChannelNumber = Cp1250("Parametrický soubor: Duplicitní číslo kanálu");
inline constexpr auto kParameterChannelExpected = Cp1250("Parametrický soubor: Očekáván parametrický kanál");

// Module-type database.
inline constexpr auto kModuleWord = Cp1250("Modul");
inline constexpr auto kNotFoundInTypeDatabase = Cp1250("nebyl nalezen v souboru TOVI.INI");
inline constexpr auto kPortNumberInvalid = Cp1250("Neplatné číslo I/O portu");
inline constexpr auto kPortTypeInvalid = Cp1250("Neplatný typ I/O portu");
inline constexpr auto kUnknownPortTypeInDatabase = Cp1250("Neznámý typ I/O portu v souboru TOVI.INI");

// Devices.
inline constexpr auto kDeviceNotInstalled = Cp1250("Zařízení není nainstalováno");
inline constexpr auto kCannotLoadLibrary = Cp1250("Nelze načíst knihovnu");

// Run time.
inline constexpr auto kReadChannelPrefix = Cp1250("Čtení z kanálu č. ");
inline constexpr auto kWriteChannelPrefix = Cp1250("Zápis do kanálu č. ");
inline constexpr auto kIncompatibleChannelType = Cp1250("Nekompatibilní typ kanálu");
inline constexpr auto kRequestNotQueued = Cp1250("Nedostatek paměti pro požadavek kanálu");

}  // namespace tovi::messages
