<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CFoldersTreeDlg</name>
    <message>
        <source>My Computer</source>
        <translation>Arbeitsplatz</translation>
    </message>
    <message>
        <source>%1 was taken out. Put it in again to read it.</source>
        <translation>%1 wurde entfernt. Stecken Sie es wieder ein, um es zu lesen.</translation>
    </message>
    <message>
        <source> - removed</source>
        <translation> - entfernt</translation>
    </message>
    <message>
        <source>%1 Object(s)</source>
        <translation>%1 Objekt(e)</translation>
    </message>
</context>
<context>
    <name>CLostDriversDlg</name>
    <message>
        <source>The volume found is already open: %1.</source>
        <translation>Das gefundene Volume ist bereits geöffnet: %1.</translation>
    </message>
    <message>
        <source>%1 of the volumes found are already open: %2.</source>
        <translation>%1 der gefundenen Volumes sind bereits geöffnet: %2.</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>Opening %1...</source>
        <translation>%1 wird geöffnet...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Kalvor Relictor</source>
        <translation>Kalvor Relictor</translation>
    </message>
    <message>
        <source>&amp;Open Image...</source>
        <translation>Abbild ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>Opens a disk or volume image, or a device, and shows its volumes.</source>
        <translation>Öffnet ein Datenträger- oder Volume-Abbild oder ein Gerät und zeigt seine Volumes.</translation>
    </message>
    <message>
        <source>Recover...</source>
        <translation>Wiederherstellen...</translation>
    </message>
    <message>
        <source>Recover the selected files and folders.</source>
        <translation>Stellt die ausgewählten Dateien und Ordner wieder her.</translation>
    </message>
    <message>
        <source>Find Lost Files...</source>
        <translation>Verlorene Dateien suchen...</translation>
    </message>
    <message>
        <source>Search the free clusters of the drive for lost files.</source>
        <translation>Durchsucht die freien Cluster des Laufwerks nach verlorenen Dateien.</translation>
    </message>
    <message>
        <source>Find Lost Drivers...</source>
        <translation>Verlorene Laufwerke suchen...</translation>
    </message>
    <message>
        <source>Search a whole disk for lost drives.</source>
        <translation>Durchsucht einen ganzen Datenträger nach verlorenen Laufwerken.</translation>
    </message>
    <message>
        <source>View With Hex...</source>
        <translation>Hexadezimal anzeigen...</translation>
    </message>
    <message>
        <source>View the data of the selected file.</source>
        <translation>Zeigt die Daten der ausgewählten Datei.</translation>
    </message>
    <message>
        <source>P&amp;roperties...</source>
        <translation>&amp;Eigenschaften...</translation>
    </message>
    <message>
        <source>Show the properties of the selected item.</source>
        <translation>Zeigt die Eigenschaften des ausgewählten Eintrags.</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Quit the application.</source>
        <translation>Beendet das Programm.</translation>
    </message>
    <message>
        <source>Select &amp;All</source>
        <translation>&amp;Alles auswählen</translation>
    </message>
    <message>
        <source>Select all items.</source>
        <translation>Wählt alle Einträge aus.</translation>
    </message>
    <message>
        <source>In&amp;vert Selection</source>
        <translation>Auswahl &amp;umkehren</translation>
    </message>
    <message>
        <source>Reverse which items are selected and which are not.</source>
        <translation>Kehrt um, welche Einträge ausgewählt sind und welche nicht.</translation>
    </message>
    <message>
        <source>Searc&amp;h</source>
        <translation>&amp;Suchen</translation>
    </message>
    <message>
        <source>Search for files and folders.</source>
        <translation>Sucht nach Dateien und Ordnern.</translation>
    </message>
    <message>
        <source>&amp;Toolbar</source>
        <translation>&amp;Werkzeugleiste</translation>
    </message>
    <message>
        <source>Show or hide the toolbar.</source>
        <translation>Blendet die Werkzeugleiste ein oder aus.</translation>
    </message>
    <message>
        <source>&amp;Status Bar</source>
        <translation>S&amp;tatusleiste</translation>
    </message>
    <message>
        <source>Show or hide the status bar.</source>
        <translation>Blendet die Statusleiste ein oder aus.</translation>
    </message>
    <message>
        <source>Navigation</source>
        <translation>Navigation</translation>
    </message>
    <message>
        <source>Show or hide the Navigation</source>
        <translation>Blendet die Navigation ein oder aus</translation>
    </message>
    <message>
        <source>Search Result</source>
        <translation>Suchergebnis</translation>
    </message>
    <message>
        <source>Show or hide the Search Result</source>
        <translation>Blendet das Suchergebnis ein oder aus</translation>
    </message>
    <message>
        <source>&amp;Preview</source>
        <translation>&amp;Vorschau</translation>
    </message>
    <message>
        <source>Show or hide the preview of the selected file</source>
        <translation>Blendet die Vorschau der ausgewählten Datei ein oder aus</translation>
    </message>
    <message>
        <source>Lar&amp;ge Icons</source>
        <translation>&amp;Große Symbole</translation>
    </message>
    <message>
        <source>Displays items by using large icons.</source>
        <translation>Zeigt die Einträge mit großen Symbolen.</translation>
    </message>
    <message>
        <source>S&amp;mall Icons</source>
        <translation>&amp;Kleine Symbole</translation>
    </message>
    <message>
        <source>Displays items by using small icons.</source>
        <translation>Zeigt die Einträge mit kleinen Symbolen.</translation>
    </message>
    <message>
        <source>&amp;List</source>
        <translation>&amp;Liste</translation>
    </message>
    <message>
        <source>Displays items in a list.</source>
        <translation>Zeigt die Einträge als Liste.</translation>
    </message>
    <message>
        <source>&amp;Details</source>
        <translation>&amp;Details</translation>
    </message>
    <message>
        <source>Displays items by using details.</source>
        <translation>Zeigt die Einträge mit Details.</translation>
    </message>
    <message>
        <source>View</source>
        <translation>Ansicht</translation>
    </message>
    <message>
        <source>Change the way the items are displayed.</source>
        <translation>Ändert, wie die Einträge angezeigt werden.</translation>
    </message>
    <message>
        <source>Go To Parent</source>
        <translation>Übergeordneter Ordner</translation>
    </message>
    <message>
        <source>Go to the parent folder.</source>
        <translation>Wechselt in den übergeordneten Ordner.</translation>
    </message>
    <message>
        <source>&amp;Options...</source>
        <translation>&amp;Optionen...</translation>
    </message>
    <message>
        <source>Change the settings of the program.</source>
        <translation>Ändert die Einstellungen des Programms.</translation>
    </message>
    <message>
        <source>Check for Updates</source>
        <translation>Nach Aktualisierungen suchen</translation>
    </message>
    <message>
        <source>Look for a newer release of the program.</source>
        <translation>Sucht nach einer neueren Version des Programms.</translation>
    </message>
    <message>
        <source>&amp;Help Topics</source>
        <translation>&amp;Hilfethemen</translation>
    </message>
    <message>
        <source>List Help topics.</source>
        <translation>Listet die Hilfethemen auf.</translation>
    </message>
    <message>
        <source>&amp;About Kalvor Relictor</source>
        <translation>&amp;Über Kalvor Relictor</translation>
    </message>
    <message>
        <source>Display program information, version number and copyright.</source>
        <translation>Zeigt Programminformationen, Versionsnummer und Copyright.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>E&amp;xtras</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation>Werkzeugleiste</translation>
    </message>
    <message>
        <source>Drivers</source>
        <translation>Laufwerke</translation>
    </message>
    <message>
        <source>The search pane is not part of this build.</source>
        <translation>Die Suche ist in dieser Ausgabe nicht enthalten.</translation>
    </message>
    <message>
        <source>No search results.</source>
        <translation>Keine Suchergebnisse.</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Some sources could not be opened.</source>
        <translation>Einige Quellen konnten nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>Stop saving the files and close Relictor?</source>
        <translation>Das Speichern der Dateien abbrechen und Relictor schließen?</translation>
    </message>
    <message>
        <source>Stop the scan and close Relictor?</source>
        <translation>Die Suche abbrechen und Relictor schließen?</translation>
    </message>
    <message>
        <source>The work in progress is still stopping; close the window again in a moment.</source>
        <translation>Die laufende Arbeit wird noch beendet; schließen Sie das Fenster gleich noch einmal.</translation>
    </message>
    <message>
        <source>Open Image</source>
        <translation>Abbild öffnen</translation>
    </message>
    <message>
        <source>Disk and volume images (*.img *.dd *.bin *.raw *.iso *.ima *.vhd);;All files (*)</source>
        <translation>Datenträger- und Volume-Abbilder (*.img *.dd *.bin *.raw *.iso *.ima *.vhd);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>About Kalvor Relictor</source>
        <translation>Über Kalvor Relictor</translation>
    </message>
    <message>
        <source>&lt;b&gt;Kalvor Relictor&lt;/b&gt; %1&lt;br&gt;Finds and recovers deleted files on FAT, exFAT and NTFS volumes.&lt;br&gt;&lt;br&gt;&lt;a href=&quot;%2&quot;&gt;%2&lt;/a&gt;</source>
        <translation>&lt;b&gt;Kalvor Relictor&lt;/b&gt; %1&lt;br&gt;Findet gelöschte Dateien auf FAT-, exFAT- und NTFS-Volumes und stellt sie wieder her.&lt;br&gt;&lt;br&gt;&lt;a href=&quot;%2&quot;&gt;%2&lt;/a&gt;</translation>
    </message>
</context>
<context>
    <name>CRelictorApp</name>
    <message>
        <source>The help page %1 is not installed.</source>
        <translation>Die Hilfeseite %1 ist nicht installiert.</translation>
    </message>
    <message>
        <source>No web browser could be started to show the help. Open %1 in a browser to read it.</source>
        <translation>Es konnte kein Webbrowser für die Hilfe gestartet werden. Öffnen Sie %1 in einem Browser, um sie zu lesen.</translation>
    </message>
</context>
<context>
    <name>CVeskDoc</name>
    <message>
        <source>You may not read this computer&apos;s disks (%1). Start Kalvor Relictor with the rights to read them (for example with sudo), or make an image of a disk (dd if=/dev/sdX of=disk.img) and open the image with File &gt; Open Image...</source>
        <translation>Sie dürfen die Datenträger dieses Computers nicht lesen (%1). Starten Sie Kalvor Relictor mit dem Recht, sie zu lesen (zum Beispiel mit sudo), oder erstellen Sie ein Abbild eines Datenträgers (dd if=/dev/sdX of=disk.img) und öffnen Sie es mit Datei &gt; Abbild öffnen...</translation>
    </message>
    <message>
        <source>You may not read %1. Start Kalvor Relictor with the rights to read it (for example with sudo), or make an image of it (dd if=%1 of=disk.img) and open the image with File &gt; Open Image...</source>
        <translation>Sie dürfen %1 nicht lesen. Starten Sie Kalvor Relictor mit dem Recht, es zu lesen (zum Beispiel mit sudo), oder erstellen Sie ein Abbild davon (dd if=%1 of=disk.img) und öffnen Sie es mit Datei &gt; Abbild öffnen...</translation>
    </message>
</context>
<context>
    <name>CVeskView</name>
    <message>
        <source>&lt;h2&gt;Kalvor Relictor&lt;/h2&gt;&lt;p&gt;Choose a drive in the navigation pane to see its folders and deleted files, or open a disk image with File &amp;gt; Open Image...&lt;/p&gt;</source>
        <translation>&lt;h2&gt;Kalvor Relictor&lt;/h2&gt;&lt;p&gt;Wählen Sie links ein Laufwerk, um seine Ordner und gelöschten Dateien zu sehen, oder öffnen Sie ein Datenträgerabbild mit Datei &amp;gt; Abbild öffnen...&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>CWorkerDlg</name>
    <message>
        <source>Scanning...</source>
        <translation>Wird gelesen...</translation>
    </message>
    <message>
        <source>Find Lost Files...</source>
        <translation>Verlorene Dateien suchen...</translation>
    </message>
    <message>
        <source>Find Lost Drivers...</source>
        <translation>Verlorene Laufwerke suchen...</translation>
    </message>
    <message>
        <source>File Saving...</source>
        <translation>Dateien werden gespeichert...</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
</context>
<context>
    <name>EntryListModel</name>
    <message>
        <source>FileName</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Pfad</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Typ</translation>
    </message>
    <message>
        <source>Modified Date</source>
        <translation>Änderungsdatum</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
</context>
<context>
    <name>HexDump</name>
    <message>
        <source>Addr</source>
        <translation>Adr</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>Dec</source>
        <translation>Dez</translation>
    </message>
    <message>
        <source>Bin</source>
        <translation>Bin</translation>
    </message>
    <message>
        <source>Oct</source>
        <translation>Okt</translation>
    </message>
    <message>
        <source>Ascii</source>
        <translation>ASCII</translation>
    </message>
</context>
<context>
    <name>HexView</name>
    <message>
        <source>The data of this file could not be read.</source>
        <translation>Die Daten dieser Datei konnten nicht gelesen werden.</translation>
    </message>
    <message>
        <source>The data of this file could not be read: %1.</source>
        <translation>Die Daten dieser Datei konnten nicht gelesen werden: %1.</translation>
    </message>
    <message>
        <source>This file is %1 bytes long; the viewer shows its first %2 MiB (%3 bytes).</source>
        <translation>Diese Datei ist %1 Bytes lang; angezeigt werden ihre ersten %2 MiB (%3 Bytes).</translation>
    </message>
    <message>
        <source>Only %1 of its %2 bytes could be read (%3).</source>
        <translation>Nur %1 ihrer %2 Bytes konnten gelesen werden (%3).</translation>
    </message>
</context>
<context>
    <name>RecoverEntries</name>
    <message>
        <source>something that is not a folder is in the way</source>
        <translation>dort liegt etwas, das kein Ordner ist</translation>
    </message>
    <message>
        <source>The output folder %1 cannot be created: %2.</source>
        <translation>Der Zielordner %1 kann nicht angelegt werden: %2.</translation>
    </message>
    <message>
        <source>%1 saved to %2.</source>
        <translation>%1 in %2 gespeichert.</translation>
    </message>
    <message>
        <source>Saving was cancelled. %1 had been saved to %2 before it.</source>
        <translation>Das Speichern wurde abgebrochen. Zuvor wurden %1 in %2 gespeichert.</translation>
    </message>
    <message>
        <source>Saving stopped at an error: %1</source>
        <translation>Das Speichern endete mit einem Fehler: %1</translation>
    </message>
    <message>
        <source>%1 had been saved to %2 before it.</source>
        <translation>Zuvor wurden %1 in %2 gespeichert.</translation>
    </message>
    <message>
        <source>%1 saved short: parts of them could not be read.</source>
        <translation>%1 unvollständig gespeichert: Teile davon konnten nicht gelesen werden.</translation>
    </message>
    <message>
        <source>%1 skipped.</source>
        <translation>%1 übersprungen.</translation>
    </message>
    <message>
        <source>%1 left incomplete and removed.</source>
        <translation>%1 blieben unvollständig und wurden entfernt.</translation>
    </message>
    <message>
        <source>%1 not started.</source>
        <translation>%1 nicht begonnen.</translation>
    </message>
    <message>
        <source>Saved short: %1: %2</source>
        <translation>Unvollständig gespeichert: %1: %2</translation>
    </message>
    <message>
        <source>Skipped: %1: %2</source>
        <translation>Übersprungen: %1: %2</translation>
    </message>
    <message>
        <source>Incomplete: %1: %2</source>
        <translation>Unvollständig: %1: %2</translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation>Ordner öffnen</translation>
    </message>
</context>
<context>
    <name>WindowCommandLine</name>
    <message>
        <source>unknown option %1 (see relictor --help)</source>
        <translation>unbekannte Option %1 (siehe relictor --help)</translation>
    </message>
    <message>
        <source>usage: relictor [OPTION] [--] [SOURCE...]

Finds and recovers deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes in a window.
A SOURCE is a disk image, volume image or block device; it is only ever read.
Without one the window shows this computer&apos;s FAT, exFAT and NTFS volumes that you may read.

options:
  -h, --help       show this text and end
  -V, --version    show the program&apos;s version and end
  --               what follows is a SOURCE, even when it begins with &apos;-&apos;

relictor-cli does the same work without a window.
</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>XMessageBox</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Abort</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Retry</source>
        <translation>&amp;Wiederholen</translation>
    </message>
    <message>
        <source>&amp;Ignore</source>
        <translation>&amp;Ignorieren</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Ja</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Nein</translation>
    </message>
    <message>
        <source>&amp;Try Again</source>
        <translation>&amp;Erneut versuchen</translation>
    </message>
    <message>
        <source>&amp;Continue</source>
        <translation>&amp;Fortsetzen</translation>
    </message>
    <message>
        <source>Y&amp;es to All</source>
        <translation>J&amp;a, alle</translation>
    </message>
    <message>
        <source>N&amp;o to All</source>
        <translation>N&amp;ein, keine</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
</context>
<context>
    <name>relictor::CClusterRangeDlg</name>
    <message>
        <source>Select cluster range</source>
        <translation>Clusterbereich wählen</translation>
    </message>
    <message>
        <source>Select Scan Cluster Range</source>
        <translation>Zu durchsuchenden Clusterbereich wählen</translation>
    </message>
    <message>
        <source>Start Cluster:</source>
        <translation>Erster Cluster:</translation>
    </message>
    <message>
        <source> End Cluster:</source>
        <translation> Letzter Cluster:</translation>
    </message>
    <message>
        <source>Cluster to scan:</source>
        <translation>Zu durchsuchende Cluster:</translation>
    </message>
    <message>
        <source>Also scan clusters used by existing files</source>
        <translation>Auch Cluster vorhandener Dateien durchsuchen</translation>
    </message>
</context>
<context>
    <name>relictor::CEntryListCtrl</name>
    <message>
        <source>Recover...</source>
        <translation>Wiederherstellen...</translation>
    </message>
    <message>
        <source>View With Hex...</source>
        <translation>Hexadezimal anzeigen...</translation>
    </message>
    <message>
        <source>Select &amp;All</source>
        <translation>&amp;Alles auswählen</translation>
    </message>
    <message>
        <source>In&amp;vert Selection</source>
        <translation>Auswahl &amp;umkehren</translation>
    </message>
    <message>
        <source>Properties...</source>
        <translation>Eigenschaften...</translation>
    </message>
    <message>
        <source>%1 Files Selected</source>
        <translation>%1 Dateien ausgewählt</translation>
    </message>
    <message>
        <source>%1 Object(s)</source>
        <translation>%1 Objekt(e)</translation>
    </message>
</context>
<context>
    <name>relictor::CFilePropertyPage</name>
    <message>
        <source>Type:</source>
        <translation>Typ:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>Location:</source>
        <translation>Ort:</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>Größe:</translation>
    </message>
    <message>
        <source>Size on disk:</source>
        <translation>Größe auf dem Datenträger:</translation>
    </message>
    <message>
        <source>Created:</source>
        <translation>Erstellt:</translation>
    </message>
    <message>
        <source>Modified:</source>
        <translation>Geändert:</translation>
    </message>
    <message>
        <source>Accessed:</source>
        <translation>Letzter Zugriff:</translation>
    </message>
    <message>
        <source>Attributes:</source>
        <translation>Attribute:</translation>
    </message>
    <message>
        <source>Read only(&amp;R)</source>
        <translation>Schreibgeschützt(&amp;R)</translation>
    </message>
    <message>
        <source>Hidden(&amp;H)</source>
        <translation>Versteckt(&amp;H)</translation>
    </message>
    <message>
        <source>Archive(&amp;A)</source>
        <translation>Archiv(&amp;A)</translation>
    </message>
</context>
<context>
    <name>relictor::CFilePropertySheet</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Apply</source>
        <translation>&amp;Übernehmen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
</context>
<context>
    <name>relictor::CFindLostDriversDlg</name>
    <message>
        <source>Find Lost Drivers</source>
        <translation>Verlorene Laufwerke suchen</translation>
    </message>
    <message>
        <source>Select physical drivers to find:</source>
        <translation>Zu durchsuchende physische Laufwerke wählen:</translation>
    </message>
    <message>
        <source>Drivers</source>
        <translation>Laufwerke</translation>
    </message>
</context>
<context>
    <name>relictor::CHexViewDlg</name>
    <message>
        <source>View With Hex</source>
        <translation>Hexadezimal anzeigen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>relictor::COptionsGeneralPage</name>
    <message>
        <source>Recover</source>
        <translation>Wiederherstellen</translation>
    </message>
    <message>
        <source>Automatically check for updates</source>
        <translation>Automatisch nach Aktualisierungen suchen</translation>
    </message>
    <message>
        <source>Deleted character:</source>
        <translation>Ersatzzeichen für gelöschte Namen:</translation>
    </message>
</context>
<context>
    <name>relictor::COptionsLangPage</name>
    <message>
        <source>Language:</source>
        <translation>Sprache:</translation>
    </message>
    <message>
        <source>NOTE: After you have changed the interface language, the program must be restarted.</source>
        <translation>HINWEIS: Nach einem Wechsel der Sprache muss das Programm neu gestartet werden.</translation>
    </message>
</context>
<context>
    <name>relictor::CPreviewPane</name>
    <message>
        <source>Select a file to preview it.</source>
        <translation>Wählen Sie eine Datei für die Vorschau.</translation>
    </message>
    <message>
        <source>The file is empty.</source>
        <translation>Die Datei ist leer.</translation>
    </message>
    <message>
        <source>Reading the picture...</source>
        <translation>Das Bild wird gelesen...</translation>
    </message>
    <message>
        <source>This picture cannot be shown: its data do not decode (the file may be overwritten or too large).</source>
        <translation>Dieses Bild kann nicht angezeigt werden: seine Daten lassen sich nicht dekodieren (die Datei ist vielleicht überschrieben oder zu groß).</translation>
    </message>
    <message>
        <source>No preview while the program is busy.</source>
        <translation>Keine Vorschau, solange das Programm beschäftigt ist.</translation>
    </message>
    <message>
        <source>The file&apos;s data cannot be read.</source>
        <translation>Die Daten der Datei können nicht gelesen werden.</translation>
    </message>
    <message>
        <source>No preview for this kind of file.</source>
        <translation>Für diese Art von Datei gibt es keine Vorschau.</translation>
    </message>
</context>
<context>
    <name>relictor::CRecoveryDlg</name>
    <message>
        <source>Files Recovery</source>
        <translation>Dateien wiederherstellen</translation>
    </message>
    <message>
        <source>Output folder:</source>
        <translation>Zielordner:</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>Durchsuchen...</translation>
    </message>
    <message>
        <source>Notice: It is recommended to save the lost/deleted data on another drive! Otherwise other lost/deleted data could be overwritten.</source>
        <translation>Hinweis: Speichern Sie die verlorenen oder gelöschten Daten möglichst auf einem anderen Laufwerk! Sonst können andere verlorene oder gelöschte Daten überschrieben werden.</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Select folder</source>
        <translation>Ordner wählen</translation>
    </message>
    <message>
        <source>Please choose the folder to save the files in.</source>
        <translation>Bitte wählen Sie den Ordner, in dem die Dateien gespeichert werden.</translation>
    </message>
    <message>
        <source>The output folder name contains control characters. Please choose another folder.</source>
        <translation>Der Name des Zielordners enthält Steuerzeichen. Bitte wählen Sie einen anderen Ordner.</translation>
    </message>
</context>
<context>
    <name>relictor::CSearchDlg</name>
    <message>
        <source>Look in:</source>
        <translation>Suchen in:</translation>
    </message>
    <message>
        <source>Search for:</source>
        <translation>Suchen nach:</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Match case</source>
        <translation>Groß-/Kleinschreibung beachten</translation>
    </message>
    <message>
        <source>Search recourse subdirectories</source>
        <translation>Unterordner durchsuchen</translation>
    </message>
    <message>
        <source>Size between (in KB) ...</source>
        <translation>Größe zwischen (in KB) ...</translation>
    </message>
    <message>
        <source>and</source>
        <translation>und</translation>
    </message>
    <message>
        <source>Specify Date</source>
        <translation>Datum angeben</translation>
    </message>
    <message>
        <source>Create Date</source>
        <translation>Erstellungsdatum</translation>
    </message>
    <message>
        <source>Modify Date</source>
        <translation>Änderungsdatum</translation>
    </message>
    <message>
        <source>From</source>
        <translation>Von</translation>
    </message>
    <message>
        <source>To</source>
        <translation>Bis</translation>
    </message>
    <message>
        <source>Please enter an integer between 0 and 4294967295.</source>
        <translation>Bitte geben Sie eine ganze Zahl zwischen 0 und 4294967295 ein.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Finded %1 Object(s)</source>
        <translation>%1 Objekt(e) gefunden</translation>
    </message>
</context>
<context>
    <name>relictor::CWorkerDlg</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save location</source>
        <translation>Speicherort</translation>
    </message>
    <message>
        <source>Recovery your lost files to the location you set. </source>
        <translation>Ihre verlorenen Dateien werden am gewählten Ort wiederhergestellt. </translation>
    </message>
    <message>
        <source>Current file:</source>
        <translation>Aktuelle Datei:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Scan NTFS Volome</source>
        <translation>NTFS-Volume wird gelesen</translation>
    </message>
    <message>
        <source>Scanning...</source>
        <translation>Wird gelesen...</translation>
    </message>
    <message>
        <source>Deep Scan for current disk</source>
        <translation>Tiefensuche auf dem aktuellen Datenträger</translation>
    </message>
</context>
</TS>
