#include "resource.h"

#include <QStringList>
#include <unordered_map>

#include "viewer/structuretree.h"

namespace {

const std::unordered_map<int, const char*>& StringTable() {
    static const std::unordered_map<int, const char*> table = {
        {int(ID_SHOW_NODES), "Show nodes\nShow nodes"},
        {int(ID_SHOW_MESHES), "Show meshes\nShow meshes"},
        {int(ID_SHOW_ANIMATION), "Show animation\nShow animation"},
        {int(ID_SHOW_DUMMIES), "Show dummies\nShow dummies"},
        {int(ID_SHOW_MATERIALS), "Show materials\nShow materials"},
        {int(ID_SHOW_MATERIAL_MAPS), "Show material maps\nShow material maps"},
        {int(ID_SHOW_MESH_ANIMATIONS), "Show mesh animations\nShow mesh animations"},
        {128,
         "morv3dViewer\n\nMorv3d\nDateityp Morv3d (*.morv3d)\n.morv3d\nMorv3dViewer.Document\n"
         "Morv3d Document"},
        {57344, "morv3dViewer"},
        {AFX_IDS_IDLEMESSAGE, "Bereit"},
        {ID_FILE_NEW, "Erstellt ein neues Dokument.\nNeu"},
        {ID_FILE_OPEN, "Öffnet ein bestehendes Dokument.\nÖffnen"},
        {ID_FILE_PRINT_SETUP, "Ändert den Drucker und die Druckoptionen.\nDruckereinrichtung"},
        {ID_FILE_PRINT, "Druckt das aktive Dokument.\nDrucken"},
        {ID_FILE_PRINT_PREVIEW, "Zeigt ganze Seiten an.\nSeitenansicht"},
        {ID_EDIT_COPY, "Kopiert die Markierung und überträgt sie in die Zwischenablage.\nKopieren"},
        {ID_EDIT_CUT,
         "Entfernt die Markierung und überträgt sie in die Zwischenablage.\nAusschneiden"},
        {ID_EDIT_PASTE, "Fügt den Inhalt der Zwischenablage ein.\nEinfügen"},
        {ID_EDIT_UNDO, "Macht die letzte Aktion rückgängig.\nRückgängig"},
        {ID_APP_ABOUT, "Zeigt Programminformationen und Versionsnummer an.\nInfo"},
        {ID_APP_EXIT,
         "Verläßt die Anwendung; fragt, ob Dokumente gespeichert werden sollen.\nBeenden"},
        {ID_NEXT_PANE, "Wechselt zum nächsten Fensterausschnitt.\nNächster Ausschnitt"},
        {ID_PREV_PANE, "Springt zum vorherigen Fensterausschnitt zurück.\nVorheriger Ausschnitt"},
        {ID_INDICATOR_CAPS, "UF"},
        {ID_INDICATOR_NUM, "NUM"},
        {ID_INDICATOR_SCRL, "RF"},
        {ID_VIEW_TOOLBAR, "Blendet die Symbolleiste ein oder aus.\nSymbolleiste ein-/ausschalten"},
        {ID_VIEW_STATUS_BAR,
         "Blendet die Statusleiste ein oder aus.\nStatusleiste ein-/ausschalten"},
        {61445, "Beendet die Seitenansicht.\nSeitenansicht beenden"},
    };
    return table;
}

}  // namespace

QString LoadString(int nId) {
    if (nId >= ID_FILE_MRU_FILE1 && nId < ID_FILE_MRU_FILE1 + 16) {
        return QStringLiteral("Öffnet dieses Dokument.");
    }
    const auto it = StringTable().find(nId);
    return it == StringTable().end() ? QString() : QString::fromUtf8(it->second);
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
    return QStringLiteral("Unbenannt");
}

QString GermanResultMessage(HRESULT hr) {
    return QString::fromUtf8(HResultMessageGerman(hr));
}

QString DescribeResult(HRESULT hr) {
    const QString strHex =
        QStringLiteral("%1").arg(static_cast<uint32_t>(hr), 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("%1 (0x%2)").arg(GermanResultMessage(hr), strHex);
}
