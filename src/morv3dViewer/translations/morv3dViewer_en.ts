<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="de">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>Info über morv3dViewer</source>
        <translation>About morv3dViewer</translation>
    </message>
    <message>
        <source>morv3dViewer Version %1</source>
        <translation>morv3dViewer Version %1</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>„%1“</source>
        <translation>“%1”</translation>
    </message>
    <message>
        <source>&amp;Neu	Strg+N</source>
        <translation>&amp;New	Ctrl+N</translation>
    </message>
    <message>
        <source>Ö&amp;ffnen...	Strg+O</source>
        <translation>&amp;Open...	Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Drucken...	Strg+P</source>
        <translation>&amp;Print...	Ctrl+P</translation>
    </message>
    <message>
        <source>Sei&amp;tenansicht</source>
        <translation>Print Pre&amp;view</translation>
    </message>
    <message>
        <source>Drucker&amp;einrichtung...</source>
        <translation>P&amp;rint Setup...</translation>
    </message>
    <message>
        <source>&amp;Beenden</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>&amp;Rückgängig	Strg+Z</source>
        <translation>&amp;Undo	Ctrl+Z</translation>
    </message>
    <message>
        <source>&amp;Ausschneiden	Strg+X</source>
        <translation>Cu&amp;t	Ctrl+X</translation>
    </message>
    <message>
        <source>&amp;Kopieren	Strg+C</source>
        <translation>&amp;Copy	Ctrl+C</translation>
    </message>
    <message>
        <source>E&amp;infügen	Strg+V</source>
        <translation>&amp;Paste	Ctrl+V</translation>
    </message>
    <message>
        <source>&amp;Symbolleiste</source>
        <translation>&amp;Toolbar</translation>
    </message>
    <message>
        <source>S&amp;tatusleiste</source>
        <translation>&amp;Status Bar</translation>
    </message>
    <message>
        <source>Inf&amp;o über morv3dViewer...</source>
        <translation>&amp;About morv3dViewer...</translation>
    </message>
    <message>
        <source>&amp;Datei</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>&amp;Bearbeiten</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>&amp;Ansicht</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>&amp;?</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>Suchen (Strg+F)</source>
        <translation>Search (Ctrl+F)</translation>
    </message>
    <message>
        <source>Nur Treffer</source>
        <translation>Matches only</translation>
    </message>
    <message numerus="yes">
        <source>%n Treffer</source>
        <translation>
            <numerusform>%n match</numerusform>
            <numerusform>%n matches</numerusform>
        </translation>
    </message>
    <message>
        <source>Materialien: %1
Maps: %2
Knoten: %3
Dummies: %4
Meshes: %5
Dreiecke: %6
Eckpunkte: %7
Morph-Schlüssel: %8
Animationszeit: %9
</source>
        <translation>Materials: %1
Maps: %2
Nodes: %3
Dummies: %4
Meshes: %5
Triangles: %6
Vertices: %7
Morph keys: %8
Animation time: %9
</translation>
    </message>
    <message>
        <source>Fehlende Texturen: %1
</source>
        <translation>Missing textures: %1
</translation>
    </message>
    <message>
        <source>Eigenschaften</source>
        <translation>Properties</translation>
    </message>
    <message>
        <source>&amp;3D-Ansicht</source>
        <translation>&amp;3D View</translation>
    </message>
    <message>
        <source>&amp;Eigenschaften</source>
        <translation>&amp;Properties</translation>
    </message>
    <message>
        <source>Ü&amp;berlagerungen</source>
        <translation>&amp;Overlays</translation>
    </message>
    <message>
        <source>&amp;Drahtgitter</source>
        <translation>&amp;Wire Frame</translation>
    </message>
    <message>
        <source>&amp;Kanten</source>
        <translation>&amp;Edges</translation>
    </message>
    <message>
        <source>&amp;Hüllkugeln</source>
        <translation>Bounding &amp;Spheres</translation>
    </message>
    <message>
        <source>&amp;Normalen</source>
        <translation>&amp;Normals</translation>
    </message>
    <message>
        <source>&amp;Bodengitter</source>
        <translation>&amp;Ground Grid</translation>
    </message>
    <message>
        <source>&amp;Achsen</source>
        <translation>&amp;Axes</translation>
    </message>
    <message>
        <source>&amp;Blickrichtung</source>
        <translation>&amp;Direction of View</translation>
    </message>
    <message>
        <source>&amp;Vorne</source>
        <translation>&amp;Front</translation>
    </message>
    <message>
        <source>&amp;Oben</source>
        <translation>&amp;Top</translation>
    </message>
    <message>
        <source>&amp;Seite</source>
        <translation>&amp;Side</translation>
    </message>
    <message>
        <source>&amp;Iso</source>
        <translation>&amp;Iso</translation>
    </message>
    <message>
        <source>Szene &amp;einpassen (F, Pos1)</source>
        <translation>&amp;Fit Scene (F, Home)</translation>
    </message>
    <message>
        <source>S&amp;tatistik...</source>
        <translation>S&amp;tatistics...</translation>
    </message>
    <message>
        <source>Statistik</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>&amp;Suchen</source>
        <translation>&amp;Find</translation>
    </message>
    <message>
        <source>&amp;Weitersuchen</source>
        <translation>Find &amp;Next</translation>
    </message>
    <message>
        <source>&amp;Rückwärts suchen</source>
        <translation>Find &amp;Previous</translation>
    </message>
    <message>
        <source>Abspielen/&amp;Pause</source>
        <translation>Play/&amp;Pause</translation>
    </message>
    <message>
        <source>Symbolleiste</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source> (importiert)</source>
        <translation> (imported)</translation>
    </message>
    <message>
        <source>%1 wird importiert …</source>
        <translation>Importing %1 …</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Die Datei %1 kann nicht geöffnet werden:
%2.</source>
        <translation>The file %1 cannot be opened:
%2.</translation>
    </message>
    <message>
        <source>Die Datei %1 wurde nicht vollständig geladen:
%2.
Angezeigt wird, was geladen werden konnte.</source>
        <translation>The file %1 was not loaded completely:
%2.
Shown is what could be loaded.</translation>
    </message>
    <message>
        <source>;;Alle 3D-Dateien (%1);;Alle Dateien (*)</source>
        <translation>;;All 3D Files (%1);;All Files (*)</translation>
    </message>
    <message>
        <source>Öffnen</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Drucken</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>Seitenansicht</source>
        <translation>Print Preview</translation>
    </message>
    <message>
        <source>Druckereinrichtung</source>
        <translation>Print Setup</translation>
    </message>
    <message>
        <source>Letzte Datei</source>
        <translation>Recent File</translation>
    </message>
    <message>
        <source>nicht gefunden</source>
        <translation>not found</translation>
    </message>
    <message>
        <source>kann nicht geöffnet werden</source>
        <translation>cannot be opened</translation>
    </message>
    <message>
        <source>keine gewöhnliche Datei</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>größer als 64 MiB</source>
        <translation>larger than 64 MiB</translation>
    </message>
    <message>
        <source>nicht genügend Speicher</source>
        <translation>out of memory</translation>
    </message>
    <message>
        <source>Die Datei %1 kann nicht importiert werden:
%2</source>
        <translation>The file %1 cannot be imported:
%2</translation>
    </message>
    <message>
        <source>Fehlende Texturen: %1</source>
        <translation>Missing textures: %1</translation>
    </message>
</context>
<context>
    <name>CMorv3dViewerView</name>
    <message>
        <source>Seite %1 von %2</source>
        <translation>Page %1 of %2</translation>
    </message>
</context>
<context>
    <name>CSceneView</name>
    <message>
        <source>Keine 3D-Ansicht: OpenGL ist nicht verfügbar (%1).</source>
        <translation>No 3D view: OpenGL is not available (%1).</translation>
    </message>
</context>
<context>
    <name>CTransportBar</name>
    <message>
        <source>Stopp (zurück zum Anfang)</source>
        <translation>Stop (back to the start)</translation>
    </message>
    <message>
        <source>Vorheriger Schlüssel</source>
        <translation>Previous key</translation>
    </message>
    <message>
        <source>Eine Zeiteinheit zurück</source>
        <translation>One time unit back</translation>
    </message>
    <message>
        <source>Abspielen/Pause (Leertaste)</source>
        <translation>Play/Pause (Space)</translation>
    </message>
    <message>
        <source>Eine Zeiteinheit vor</source>
        <translation>One time unit forward</translation>
    </message>
    <message>
        <source>Nächster Schlüssel</source>
        <translation>Next key</translation>
    </message>
    <message>
        <source>Zeit</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Geschwindigkeit</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>Wiederholen</source>
        <translation>Loop</translation>
    </message>
</context>
<context>
    <name>Resource</name>
    <message>
        <source>Show nodes
Show nodes</source>
        <translation>Show nodes
Show nodes</translation>
    </message>
    <message>
        <source>Show meshes
Show meshes</source>
        <translation>Show meshes
Show meshes</translation>
    </message>
    <message>
        <source>Show animation
Show animation</source>
        <translation>Show animation
Show animation</translation>
    </message>
    <message>
        <source>Show dummies
Show dummies</source>
        <translation>Show dummies
Show dummies</translation>
    </message>
    <message>
        <source>Show materials
Show materials</source>
        <translation>Show materials
Show materials</translation>
    </message>
    <message>
        <source>Show material maps
Show material maps</source>
        <translation>Show material maps
Show material maps</translation>
    </message>
    <message>
        <source>Show mesh animations
Show mesh animations</source>
        <translation>Show mesh animations
Show mesh animations</translation>
    </message>
    <message>
        <source>morv3dViewer

Morv3d
Dateityp Morv3d (*.morv3d)
.morv3d
Morv3dViewer.Document
Morv3d Document</source>
        <translation>morv3dViewer

Morv3d
Morv3d Files (*.morv3d)
.morv3d
Morv3dViewer.Document
Morv3d Document</translation>
    </message>
    <message>
        <source>Bereit</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>Erstellt ein neues Dokument.
Neu</source>
        <translation>Creates a new document.
New</translation>
    </message>
    <message>
        <source>Öffnet ein bestehendes Dokument.
Öffnen</source>
        <translation>Opens an existing document.
Open</translation>
    </message>
    <message>
        <source>Ändert den Drucker und die Druckoptionen.
Druckereinrichtung</source>
        <translation>Changes the printer and the printing options.
Print Setup</translation>
    </message>
    <message>
        <source>Druckt das aktive Dokument.
Drucken</source>
        <translation>Prints the active document.
Print</translation>
    </message>
    <message>
        <source>Zeigt ganze Seiten an.
Seitenansicht</source>
        <translation>Displays full pages.
Print Preview</translation>
    </message>
    <message>
        <source>Kopiert die Markierung und überträgt sie in die Zwischenablage.
Kopieren</source>
        <translation>Copies the selection and puts it on the Clipboard.
Copy</translation>
    </message>
    <message>
        <source>Entfernt die Markierung und überträgt sie in die Zwischenablage.
Ausschneiden</source>
        <translation>Cuts the selection and puts it on the Clipboard.
Cut</translation>
    </message>
    <message>
        <source>Fügt den Inhalt der Zwischenablage ein.
Einfügen</source>
        <translation>Inserts the contents of the Clipboard.
Paste</translation>
    </message>
    <message>
        <source>Macht die letzte Aktion rückgängig.
Rückgängig</source>
        <translation>Undoes the last action.
Undo</translation>
    </message>
    <message>
        <source>Zeigt Programminformationen und Versionsnummer an.
Info</source>
        <translation>Displays program information and version number.
About</translation>
    </message>
    <message>
        <source>Verläßt die Anwendung; fragt, ob Dokumente gespeichert werden sollen.
Beenden</source>
        <translation>Quits the application; prompts to save documents.
Exit</translation>
    </message>
    <message>
        <source>Wechselt zum nächsten Fensterausschnitt.
Nächster Ausschnitt</source>
        <translation>Switches to the next window pane.
Next Pane</translation>
    </message>
    <message>
        <source>Springt zum vorherigen Fensterausschnitt zurück.
Vorheriger Ausschnitt</source>
        <translation>Switches back to the previous window pane.
Previous Pane</translation>
    </message>
    <message>
        <source>UF</source>
        <translation>CAP</translation>
    </message>
    <message>
        <source>NUM</source>
        <translation>NUM</translation>
    </message>
    <message>
        <source>RF</source>
        <translation>SCRL</translation>
    </message>
    <message>
        <source>Blendet die Symbolleiste ein oder aus.
Symbolleiste ein-/ausschalten</source>
        <translation>Shows or hides the toolbar.
Toggle Toolbar</translation>
    </message>
    <message>
        <source>Blendet die Statusleiste ein oder aus.
Statusleiste ein-/ausschalten</source>
        <translation>Shows or hides the status bar.
Toggle Status Bar</translation>
    </message>
    <message>
        <source>Beendet die Seitenansicht.
Seitenansicht beenden</source>
        <translation>Closes the print preview.
Close Preview</translation>
    </message>
    <message>
        <source>Öffnet dieses Dokument.</source>
        <translation>Opens this document.</translation>
    </message>
    <message>
        <source>Unbenannt</source>
        <translation>Untitled</translation>
    </message>
</context>
</TS>
