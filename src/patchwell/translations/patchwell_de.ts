<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>relictor::patchwell::CPatchwellDlg</name>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Update(&amp;U)</source>
        <translation>&amp;Aktualisieren</translation>
    </message>
    <message>
        <source>Complete(&amp;O)</source>
        <translation>&amp;Fertigstellen</translation>
    </message>
    <message>
        <source>Kalvor Patchwell</source>
        <translation>Kalvor Patchwell</translation>
    </message>
    <message>
        <source>Thank you for using Kalvor Relictor</source>
        <translation>Vielen Dank, dass Sie Kalvor Relictor verwenden</translation>
    </message>
    <message>
        <source>Follow product is installed in your system:</source>
        <translation>Folgendes Produkt ist auf Ihrem System installiert:</translation>
    </message>
    <message>
        <source>Click &apos;Next&apos; for availability updates</source>
        <translation>Klicken Sie auf „Weiter“, um nach verfügbaren Aktualisierungen zu suchen</translation>
    </message>
    <message>
        <source>&amp;About Patchwell...</source>
        <translation>Ü&amp;ber Patchwell...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>About Kalvor Patchwell</source>
        <translation>Über Kalvor Patchwell</translation>
    </message>
    <message>
        <source>Kalvor Patchwell Version 1.000</source>
        <translation>Kalvor Patchwell Version 1.000</translation>
    </message>
    <message>
        <source>Connecting to server...</source>
        <translation>Verbindung zum Server wird hergestellt...</translation>
    </message>
    <message>
        <source>Can&apos;t connect to server</source>
        <translation>Keine Verbindung zum Server möglich</translation>
    </message>
    <message>
        <source>Read version infomation...</source>
        <translation>Versionsinformationen werden gelesen...</translation>
    </message>
    <message>
        <source> Nothing will be installed.</source>
        <translation> Es wird nichts installiert.</translation>
    </message>
    <message>
        <source>Your version is the last version</source>
        <translation>Ihre Version ist die neueste Version</translation>
    </message>
    <message>
        <source>Relictor %1 is available, but %2 is installed for all users and the system&apos;s package manager updates it.</source>
        <translation>Relictor %1 ist verfügbar, aber %2 ist für alle Benutzer installiert und wird von der Paketverwaltung des Systems aktualisiert.</translation>
    </message>
    <message>
        <source>Finded new version: </source>
        <translation>Neue Version gefunden: </translation>
    </message>
    <message>
        <source> is running! Close it?</source>
        <translation> wird gerade ausgeführt! Beenden?</translation>
    </message>
    <message>
        <source>Update completed</source>
        <translation>Aktualisierung abgeschlossen</translation>
    </message>
</context>
</TS>
