#include "resource.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <unordered_map>

#include "viewer/structuretree.h"

namespace {

UiLanguage g_language = UiLanguage::German;

const std::unordered_map<int, const char*>& StringTable() {
    static const std::unordered_map<int, const char*> table = {
        {int(ID_SHOW_NODES), QT_TRANSLATE_NOOP("Resource", "Show nodes\nShow nodes")},
        {int(ID_SHOW_MESHES), QT_TRANSLATE_NOOP("Resource", "Show meshes\nShow meshes")},
        {int(ID_SHOW_ANIMATION), QT_TRANSLATE_NOOP("Resource", "Show animation\nShow animation")},
        {int(ID_SHOW_DUMMIES), QT_TRANSLATE_NOOP("Resource", "Show dummies\nShow dummies")},
        {int(ID_SHOW_MATERIALS), QT_TRANSLATE_NOOP("Resource", "Show materials\nShow materials")},
        {int(ID_SHOW_MATERIAL_MAPS),
         QT_TRANSLATE_NOOP("Resource", "Show material maps\nShow material maps")},
        {int(ID_SHOW_MESH_ANIMATIONS),
         QT_TRANSLATE_NOOP("Resource", "Show mesh animations\nShow mesh animations")},
        {128,
         QT_TRANSLATE_NOOP(
             "Resource",
             "morv3dViewer\n\nMorv3d\nDateityp Morv3d (*.morv3d)\n.morv3d\nMorv3dViewer.Document\n"
             "Morv3d Document")},
        {57344, "morv3dViewer"},
        {AFX_IDS_IDLEMESSAGE, QT_TRANSLATE_NOOP("Resource", "Bereit")},
        {ID_FILE_NEW, QT_TRANSLATE_NOOP("Resource", "Erstellt ein neues Dokument.\nNeu")},
        {ID_FILE_OPEN, QT_TRANSLATE_NOOP("Resource", "Öffnet ein bestehendes Dokument.\nÖffnen")},
        {ID_FILE_PRINT_SETUP,
         QT_TRANSLATE_NOOP("Resource",
                           "Ändert den Drucker und die Druckoptionen.\nDruckereinrichtung")},
        {ID_FILE_PRINT, QT_TRANSLATE_NOOP("Resource", "Druckt das aktive Dokument.\nDrucken")},
        {ID_FILE_PRINT_PREVIEW,
         QT_TRANSLATE_NOOP("Resource", "Zeigt ganze Seiten an.\nSeitenansicht")},
        {ID_EDIT_COPY,
         QT_TRANSLATE_NOOP(
             "Resource",
             "Kopiert die Markierung und überträgt sie in die Zwischenablage.\nKopieren")},
        {ID_EDIT_CUT,
         QT_TRANSLATE_NOOP(
             "Resource",
             "Entfernt die Markierung und überträgt sie in die Zwischenablage.\nAusschneiden")},
        {ID_EDIT_PASTE,
         QT_TRANSLATE_NOOP("Resource", "Fügt den Inhalt der Zwischenablage ein.\nEinfügen")},
        {ID_EDIT_UNDO,
         QT_TRANSLATE_NOOP("Resource", "Macht die letzte Aktion rückgängig.\nRückgängig")},
        {ID_APP_ABOUT,
         QT_TRANSLATE_NOOP("Resource", "Zeigt Programminformationen und Versionsnummer an.\nInfo")},
        {ID_APP_EXIT,
         QT_TRANSLATE_NOOP(
             "Resource",
             "Verläßt die Anwendung; fragt, ob Dokumente gespeichert werden sollen.\nBeenden")},
        {ID_NEXT_PANE,
         QT_TRANSLATE_NOOP("Resource",
                           "Wechselt zum nächsten Fensterausschnitt.\nNächster Ausschnitt")},
        {ID_PREV_PANE,
         QT_TRANSLATE_NOOP(
             "Resource",
             "Springt zum vorherigen Fensterausschnitt zurück.\nVorheriger Ausschnitt")},
        {ID_INDICATOR_CAPS, QT_TRANSLATE_NOOP("Resource", "UF")},
        {ID_INDICATOR_NUM, QT_TRANSLATE_NOOP("Resource", "NUM")},
        {ID_INDICATOR_SCRL, QT_TRANSLATE_NOOP("Resource", "RF")},
        {ID_VIEW_TOOLBAR,
         QT_TRANSLATE_NOOP(
             "Resource", "Blendet die Symbolleiste ein oder aus.\nSymbolleiste ein-/ausschalten")},
        {ID_VIEW_STATUS_BAR,
         QT_TRANSLATE_NOOP(
             "Resource", "Blendet die Statusleiste ein oder aus.\nStatusleiste ein-/ausschalten")},
        {61445, QT_TRANSLATE_NOOP("Resource", "Beendet die Seitenansicht.\nSeitenansicht beenden")},
    };
    return table;
}

}  // namespace

QString LoadString(int nId) {
    if (nId >= ID_FILE_MRU_FILE1 && nId < ID_FILE_MRU_FILE1 + 16) {
        return QCoreApplication::translate("Resource", "Öffnet dieses Dokument.");
    }
    const auto it = StringTable().find(nId);
    // The table holds the German source texts; they are translated when asked for.
    return it == StringTable().end() ? QString()
                                     : QCoreApplication::translate("Resource", it->second);
}

QString PromptOf(int nId) {
    return LoadString(nId).section(QLatin1Char('\n'), 0, 0);
}

QString TipOf(int nId) {
    return LoadString(nId).section(QLatin1Char('\n'), 1, 1);
}

QString GetDocString(DocStringIndex index) {
    return LoadString(128).split(QLatin1Char('\n')).value(static_cast<int>(index));
}

QString UntitledName() {
    return QCoreApplication::translate("Resource", "Unbenannt");
}

void SetUiLanguage(UiLanguage language) {
    g_language = language;
    // Numbers the window shows (the speeds) are written as the language writes them.
    QLocale::setDefault(language == UiLanguage::German
                            ? QLocale(QLocale::German, QLocale::Germany)
                            : QLocale(QLocale::English, QLocale::UnitedStates));
}

QString GermanResultMessage(HRESULT hr) {
    return QString::fromUtf8(HResultMessageGerman(hr));
}

QString ResultMessage(HRESULT hr) {
    // abstractdata has both word tables; a second copy in the translations would drift.
    if (g_language == UiLanguage::German) {
        return GermanResultMessage(hr);
    }
    // The command line's words begin in lower case; in the window they begin a line.
    QString strWords = QString::fromUtf8(HResultMessage(hr));
    if (!strWords.isEmpty()) {
        strWords[0] = strWords[0].toUpper();
    }
    return strWords;
}

QString DescribeResult(HRESULT hr) {
    const QString strHex =
        QStringLiteral("%1").arg(static_cast<uint32_t>(hr), 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("%1 (0x%2)").arg(ResultMessage(hr), strHex);
}
