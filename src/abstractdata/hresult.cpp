#include "abstractdata/hresult.h"

namespace {

constexpr HRESULT Win32(uint32_t dwError) {
    return HRESULT_FROM_WIN32(dwError);
}

constexpr ResultText kResultTexts[] = {
    {S_OK, "success", "kein Fehler"},
    {S_FALSE, "success (negative answer)", "kein Fehler (verneinende Antwort)"},
    {E_FAIL, "unexpected end of data or malformed data",
     "unerwartetes Datenende oder fehlerhafte Daten"},
    {E_UNEXPECTED, "operation not valid in this state, or wrong kind of file",
     "falsche Dateiart oder unzulässiger Vorgang"},
    {E_OUTOFMEMORY, "out of memory", "nicht genügend Arbeitsspeicher"},
    {E_INVALIDARG, "invalid argument", "ungültiges Argument"},
    {MORV_E_CHUNKCLOSED, "chunk already closed", "Abschnitt bereits geschlossen"},
    {MORV_E_BADFORMAT, "invalid file format", "ungültiges Dateiformat"},
    {MORV_E_NOTASCENE, "not a .morv3d scene file", "keine .morv3d-Szenendatei"},
    {Win32(ERROR_FILE_NOT_FOUND), "file not found", "Datei nicht gefunden"},
    {Win32(ERROR_PATH_NOT_FOUND), "path not found", "Pfad nicht gefunden"},
    {Win32(ERROR_TOO_MANY_OPEN_FILES), "too many open files", "zu viele geöffnete Dateien"},
    {Win32(ERROR_ACCESS_DENIED), "access denied", "Zugriff verweigert"},
    {Win32(ERROR_INVALID_HANDLE), "invalid handle", "ungültiges Handle"},
    {Win32(ERROR_NOT_ENOUGH_MEMORY), "not enough memory", "nicht genügend Speicher"},
    {Win32(ERROR_WRITE_PROTECT), "read-only file system", "schreibgeschütztes Dateisystem"},
    {Win32(ERROR_GEN_FAILURE), "input/output error", "Ein-/Ausgabefehler"},
    {Win32(ERROR_SHARING_VIOLATION), "file is locked by another process",
     "Datei ist von einem anderen Prozess gesperrt"},
    {Win32(ERROR_FILE_EXISTS), "file exists", "Datei existiert bereits"},
    {Win32(ERROR_DISK_FULL), "disk full", "Datenträger voll"},
    {Win32(ERROR_NEGATIVE_SEEK), "seek before the beginning of the file",
     "Position vor dem Dateianfang"},
    {Win32(ERROR_FILENAME_EXCED_RANGE), "file name too long", "Dateiname zu lang"},
    {Win32(ERROR_FILE_TOO_LARGE), "file or position beyond 4 GiB - 1",
     "Datei oder Position jenseits von 4 GiB - 1"},
    {Win32(ERROR_DIRECTORY_NOT_SUPPORTED), "is a folder, not a file",
     "ist ein Ordner, keine Datei"},
    {Win32(ERROR_RESOURCE_NAME_NOT_FOUND), "string resource not found",
     "Zeichenfolge nicht gefunden"},
};

const ResultText* FindResultText(HRESULT hr) {
    for (const ResultText& text : kResultTexts) {
        if (text.hr == hr) {
            return &text;
        }
    }
    return nullptr;
}

}  // namespace

std::span<const ResultText> ResultTexts() {
    return kResultTexts;
}

const char* HResultMessage(HRESULT hr) {
    const ResultText* pText = FindResultText(hr);
    return pText != nullptr ? pText->pszEnglish : "unknown error";
}

const char* HResultMessageGerman(HRESULT hr) {
    const ResultText* pText = FindResultText(hr);
    return pText != nullptr ? pText->pszGerman : "unbekannter Fehler";
}
