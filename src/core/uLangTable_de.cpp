// German. Ids, placeholders and line breaks follow the English table.
#include <iterator>

#include "core/uLang.h"
#include "core/uLangTables.h"

// clang-format off
const char* const kLangTextDe[] = {
  "TRIM ausführen",  // 0
  "Laufwerk prüfen",  // 1
  "Praxistest",  // 2
  "Datenträgerauswahl",  // 3
  "Ausführungsoptionen",  // 4
  "Erweiterte Einstellungen",  // 5
  "Status / Protokoll",  // 6
  "TRIM-Praxistest-Steuerung",  // 7
  "Aktualisieren",  // 8
  "USB-Info",  // 9
  "Start",  // 10
  "Abbrechen",  // 11
  "Protokoll leeren",  // 12
  "TRIM-Praxistest starten",  // 13
  "Stopp",  // 14
  "Nur prüfen",  // 15
  "Testordner löschen",  // 16
  "Dateizuordnung als CSV exportieren",  // 17
  "Protokoll leeren",  // 18
  "Prüfen",  // 19
  "Liste freier Sektoren exportieren",  // 20
  "Ausführungsmodus",  // 21
  "Vollständiges TRIM (gesamter Gerätebereich)",  // 22
  "Nur TRIM des freien Speichers",  // 23
  "Probelauf (nur prüfen, nichts senden)",  // 24
  "Erweiterte Optionen anzeigen",  // 25
  "FS-Richtlinie: -",  // 26
  "Nach TRIM initialisieren:",  // 27
  "Nicht initialisieren",  // 28
  "Zeitlimit (ms)",  // 29
  "Wiederholungen",  // 30
  "Einträge pro Batch",  // 31
  "Batch-Limit",  // 32
  "Systemdatenträger zulassen (GEFAHR)",  // 33
  "Seriennummer im Protokoll maskieren",  // 34
  "Volume-Puffer vor TRIM leeren",  // 35
  "Status: Leerlauf",  // 36
  "Status: Läuft",  // 37
  "Startschritt",  // 38
  "Endschritt",  // 39
  "Warten bei Tempoabfall (min, 0=aus)",  // 40
  "Ziel-USB-Datenträger für TRIM auswählen. BOT- und UASP-Protokolle werden unterstützt.",  // 41
  "USB-Datenträgerliste neu einlesen.",  // 42
  "Beschreibung der Protokolle BOT/UAS und Informationen zur TRIM-Kompatibilität anzeigen.",  // 43
  "Vollständiges TRIM: gesamter Datenträger (keine Volumes).|Freier Speicher: nur ungenutzte Bereiche eingebundener Volumes.",  // 44
  "Wenn aktiviert, werden CDB/Bereiche geprüft, ohne echtes TRIM zu senden.",  // 45
  "Zeitlimit, Wiederholungen, Batch und weitere erweiterte Einstellungen anzeigen.",  // 46
  "Datenträger nach vollständigem TRIM als GPT/MBR initialisieren oder überspringen.",  // 47
  "Details des gewählten Datenträgers: Modell, Seriennummer, Kapazität, Volumes, freier Speicher.",  // 48
  "Zeitlimit für SCSI PASS-THROUGH-Befehle (Millisekunden). Standard: 5.000 ms.",  // 49
  "Anzahl der Wiederholungen bei fehlgeschlagenem TRIM-Versand. 0 = keine Wiederholung.",  // 50
  "TRIM-Einträge pro SCSI-Befehl. Standard: 32.",  // 51
  "Maximale Anzahl auszuführender Batches. Zum Testen auf 1/10/100 begrenzen.",  // 52
  "System-/Startdatenträger als TRIM-Ziel zulassen. Sehr gefährlich!",  // 53
  "Seriennummern von Datenträgern in Protokollen teilweise maskieren.",  // 54
  "FlushFileBuffers auf jedem Volume vor TRIM.",  // 55
  "TRIM auf dem gewählten Datenträger ausführen. Zweistufige Bestätigung erforderlich.",  // 56
  "Laufenden TRIM-Vorgang abbrechen.",  // 57
  "Gesamten Inhalt des Protokollfensters löschen.",  // 58
  "Zeigt den Fortschritt des TRIM-Vorgangs.",  // 59
  "Zeigt den aktuellen Status des TRIM-Vorgangs.",  // 60
  "Ausführliches TRIM-Ausführungsprotokoll. Wird auch automatisch in einer Datei gespeichert.",  // 61
  "ATA-TRIM-Befehle an USB-SATA-Datenträger senden.",  // 62
  "Partitionsstruktur, Kapazität und freien Speicher des Datenträgers prüfen.",  // 63
  "SSD-TRIM mit einem Zyklus aus Schreiben/Löschen/TRIM/Prüfen testen.",  // 64
  "SSD-TRIM mit einer Abfolge aus Schreiben/Löschen/TRIM/Prüfen testen.",  // 65
  "Laufenden Praxistest sicher beenden.",  // 66
  "Nur die Datenintegrität der 500MB-Dateien prüfen (kein Schreiben/Löschen).",  // 67
  "Ordner trim_real_test samt allen enthaltenen Dateien vollständig löschen.",  // 68
  "Startschritt. 1=Dateien erstellen, 2=Löschen+TRIM, 3=Mit 1GB füllen, 4=500MB prüfen, 5=1GB prüfen.",  // 69
  "Endschritt. Muss >= Startschritt sein.",  // 70
  "Aktueller Fortschritt des Praxistests.",  // 71
  "Lese-/Schreibgeschwindigkeit in Echtzeit (MB/s) über ein 2-Sekunden-Fenster.",  // 72
  "Gesamte verstrichene Zeit seit Teststart.",  // 73
  "Verstrichene Zeit des aktuellen Schritts/Abschnitts.",  // 74
  "Dateinamen, Start-/Endsektoren und Größen aus trim_real_test als CSV speichern.",  // 75
  "Protokoll leeren und Hinweistext erneut anzeigen.",  // 76
  "Wartezeit (min), wenn die Schreibgeschwindigkeit unter 50% des Durchschnitts fällt. 0=deaktiviert.",  // 77
  "Fortschrittsprotokoll des Praxistests. Status und Ergebnisse jedes Schritts.",  // 78
  "Partition, Kapazität und freien Speicher des gewählten Datenträgers prüfen.",  // 79
  "LBA-Bereiche des freien Speichers jedes Volumes als CSV speichern.",  // 80
  "Übersicht über gesamten/freien/belegten Speicher und Start-LBA des letzten freien Blocks.",  // 81
  "Typ, Sektoren, physischer Startsektor, Clustergröße usw. je Partition.",  // 82
  "Fehler",  // 83
  "Warnung",  // 84
  "Info",  // 85
  "Bestätigen",  // 86
  "Abweichung",  // 87
  "Läuft",  // 88
  "Administratorrechte erforderlich",  // 89
  "Einschränkung",  // 90
  "Moduseinschränkung",  // 91
  "Durch Richtlinie blockiert",  // 92
  "Vorprüfung fehlgeschlagen",  // 93
  "Planerstellung fehlgeschlagen",  // 94
  "Initialisierung abgeschlossen",  // 95
  "Initialisierung fehlgeschlagen",  // 96
  "Bitte einen Datenträger auswählen.",  // 97
  "Läuft bereits.",  // 98
  "Administratorrechte sind erforderlich.",  // 99
  // 100
  "Dieser Datenträger enthält ein oder mehrere Volumes (eingebundene Partitionen), daher ist TRIM des gesamten Geräts nicht verfügbar. "
  "Um vollständiges TRIM zu verwenden, löschen Sie alle Volumes dieses Datenträgers in der Datenträgerverwaltung (oder einem ähnlichen Werkzeug) und versuchen Sie es erneut. "
  "Bis dahin verwenden Sie nur TRIM des freien Speichers.",
  "Bitte beenden Sie während des TRIM alle Schreibvorgänge auf dem Ziellaufwerk.",  // 101
  "Die eingegebene Datenträgernummer stimmt nicht mit der Ziel-PD-Nummer überein. Vorgang abgebrochen.",  // 102
  "Datenträgernummer eingeben (Zahl nach PD): ",  // 103
  "Bitte zuerst einen zu prüfenden Datenträger auswählen.",  // 104
  "Kein eingebundener Laufwerksbuchstabe gefunden.",  // 105
  "Ordner existiert nicht: ",  // 106
  "Keine Volume-Informationen verfügbar.",  // 107
  "Der Startschritt ist größer als der Endschritt.",  // 108
  "Ordner trim_real_test vollständig löschen. Fortfahren?",  // 109
  "Ordner gelöscht: ",  // 110
  "Löschen des Ordners fehlgeschlagen: ",  // 111
  "Nur Prüfung wird ausgeführt. Ziel: ",  // 112
  "Der Test läuft gerade.",  // 113
  "Datenträger nach TRIM als GPT initialisiert.",  // 114
  "Datenträger nach TRIM als MBR initialisiert.",  // 115
  "Initialisierung des Datenträgers fehlgeschlagen.",  // 116
  "Dateizuordnungs-CSV gespeichert",  // 117
  "Vorbereitung",  // 118
  "Fertig",  // 119
  "Prüfung läuft",  // 120
  "Nur-Prüfen-Modus: vorhandene Dateien werden gesucht",  // 121
  "Suche abgeschlossen: %d Dateien",  // 122
  "Keine Dateien zu prüfen. Bitte den Ordner trim_real_test kontrollieren.",  // 123
  "Integritätsprüfung der 500MB-Dateien gestartet",  // 124
  "Prüfung abgeschlossen: Erfolgreich",  // 125
  "Prüfung abgeschlossen: Fehler gefunden",  // 126
  "SCHRITT1: 1/3 des freien Speichers wird mit 500MB-Dateien gefüllt",  // 127
  "SCHRITT1 abgeschlossen",  // 128
  "SCHRITT2: Jede 10. Datei löschen, Flush/CSV/TRIM",  // 129
  "SCHRITT2 abgeschlossen",  // 130
  "SCHRITT3: ~%s Bytes werden mit 1GB-Dateien gefüllt (1GB bleibt frei)",  // 131
  "SCHRITT3 abgeschlossen",  // 132
  "SCHRITT4: Integritätsprüfung der 500MB-Dateien gestartet",  // 133
  "SCHRITT4 abgeschlossen: Prüfung bestanden",  // 134
  "SCHRITT4 abgeschlossen: Prüffehler gefunden",  // 135
  "Gesamte verstrichene Zeit: ",  // 136
  "TRIM fehlgeschlagen oder Warnung, bitte das Protokoll prüfen.",  // 137
  "Kapazitätsabfrage fehlgeschlagen, Abbruch.",  // 138
  "Testordner konnte nicht erstellt werden: ",  // 139
  "Dateierstellung fehlgeschlagen: ",  // 140
  "Schreiben fehlgeschlagen: ",  // 141
  "Geschwindigkeitsabfall erkannt: 2s=%.1f / Mittel=%.1f MB/s, warte %d min",  // 142
  "CSV des freien Speichers gespeichert: ",  // 143
  "Vorhandene 1GB-Dateien erkannt: letzter Index=%d, nächster=%d",  // 144
  "Prüfung fehlgeschlagen: Datei fehlt - ",  // 145
  "Prüfung fehlgeschlagen: CRC stimmt nicht überein - ",  // 146
  "Schreiben der CSV fehlgeschlagen",  // 147
  "Flush erfolgreich: ",  // 148
  "Flush fehlgeschlagen: ",  // 149
  "TRIM-Praxistest wird gestartet. Ziel-Volume: ",  // 150
  "CSV erstellt: ",  // 151
  "Start ab SCHRITT %d: vorhandene Dateien werden gesucht",  // 152
  "TRIM-Planerstellung fehlgeschlagen: ",  // 153
  "Klicken Sie auf Prüfen, um das gewählte PhysicalDrive zu analysieren.",  // 154
  "Gesamtspeicher",  // 155
  "Freier Speicher",  // 156
  "Belegter Speicher",  // 157
  "Ablauf des TRIM-Praxistests (SCHRITT 1~5):",  // 158
  "1) 1/3 des verbleibenden Speichers mit 500MB-Zufallsdateien füllen.",  // 159
  "2) Jede 10. Datei löschen -> Flush -> CSV des freien Speichers -> TRIM.",  // 160
  "3) Verbleibenden Speicher mit 1GB-Zufallsdateien füllen (~1GB frei lassen).",  // 161
  "4) Integrität der 500MB-Dateien prüfen.",  // 162
  "Automatisches Warten bei Geschwindigkeitsabfall (einstellbar, 0=aus). 1 min Pause nach dem Warten.",  // 163
  "Mit Stopp jederzeit abbrechen.",  // 164
  "Datenträger wird nach TRIM als GPT initialisiert",  // 165
  "Datenträger wird nach TRIM als MBR initialisiert",  // 166
  "TRIM des freien Speichers ist nicht verfügbar: ",  // 167
  "Warte %d:%02d",  // 168
  "Warnung",  // 169
  // 170
  "TRIM kann die Datenwiederherstellung sowie Lebensdauer/Leistung der SSD beeinflussen.\r\n"
  "Bitte prüfen Sie den Zieldatenträger. Fortfahren?",
  "Wenn das Gerät UAS verwendet, werden tatsächliche Übertragungen blockiert.",  // 171
  "Datenträger-Handle konnte nicht geöffnet werden: ",  // 172
  "Initialisierung des Datenträgers erfolgreich: ",  // 173
  "IOCTL_DISK_CREATE_DISK fehlgeschlagen: winerr=",  // 174
  "USB-Verbindungshilfe",  // 175
  // 176
  "Ein Anschluss mit USB 3.0 oder neuer ist erforderlich (meist blau, die Farbe ist aber nicht garantiert).\r\n"
  "\r\n"
  "BOT: TRIM über ATA Pass-Through\r\n"
  "UASP: TRIM über SCSI UNMAP (Ausweichweg: ATA Pass-Through)\r\n"
  "\r\n"
  "Wenn TRIM fehlschlägt:\r\n"
  "1) Trennen und direkt an einen Anschluss mit USB 3.0+ anschließen\r\n"
  "2) USB-Hub/Kabel wechseln\r\n"
  "3) Nach Aktualisieren Transport prüfen",
  "UI-Registerkarten initialisiert",  // 177
  "Weitere Informationen",  // 178
  "ATA Pass-Through",  // 179
  "ATA-TRIM-fähig",  // 180
  "Vorgang vom Benutzer abgebrochen.",  // 181
  "TRIM-Ausführung erfolgreich abgeschlossen.",  // 182
  "TRIM-Ausführung mit fehlgeschlagenen Batches abgeschlossen.",  // 183
  "Vrek Produkte",  // 184
  "Vrek Handbuch",  // 185
  "Lizenz",  // 186
  "Lizenzinformationen",  // 187
  // 188
  "Dieses Programm wird kostenlos und „wie besehen“ ohne jegliche Gewährleistung bereitgestellt.\r\n"
  "Die Nutzung erfolgt auf eigene Gefahr; der Autor haftet nicht für Datenverlust oder sonstige Schäden.\r\n"
  "\r\n"
  "Legen Sie vor jedem TRIM stets Sicherungen Ihrer Daten an.",
  "Über TRIM",  // 189
  "Über TRIM",  // 190
  // 191
  "[ Was ist TRIM? ]\r\n"
  "TRIM teilt der SSD mit, welche Blöcke nicht mehr belegt sind, damit sie diese vorab löschen "
  "und die Speicherbereinigung (Garbage Collection) effizient durchführen kann.\r\n"
  "\r\n"
  "[ Vorteile von TRIM ]\r\n"
  "- Gleichbleibende Schreibleistung\r\n"
  "- Längere Lebensdauer der SSD durch weniger Schreib-/Löschzyklen\r\n"
  "- Stabile Antwortzeiten\r\n"
  "- Effiziente Speicherverwaltung durch den SSD-Controller\r\n"
  "\r\n"
  "[ Wann sollte man TRIM ausführen? ]\r\n"
  "- Nach dem Löschen vieler Dateien\r\n"
  "- Wenn die Schreibgeschwindigkeit gesunken ist\r\n"
  "- Nach langer Nutzung einer externen USB-SSD ohne TRIM\r\n"
  "- Wenn das System per USB angeschlossene SSDs nicht selbst trimmt\r\n"
  "\r\n"
  "[ Hinweis ]\r\n"
  "Windows trimmt interne SATA/NVMe-SSDs automatisch, externe SSDs hinter USB-SATA-Bridges jedoch nicht. "
  "Für diese Laufwerke ist dieses Programm gedacht.",
  "Bedienung",  // 192
  "Ziellaufwerk",  // 193
  // 194
  "Dieser Test beschreibt den gesamten freien Speicher des Laufwerks und kann lange dauern.\r\n"
  "Möchten Sie fortfahren?",
  "SCHRITT1: TRIM vor dem Erstellen der Dateien wird ausgeführt",  // 195
  // 196
  "Alle Hardware-TRIM-Wege (DSM / SCSI UNMAP / ATA Pass-Through) wurden von dieser USB-Bridge abgelehnt.\r\n"
  "Für NTFS ist „Optimize-Volume -ReTrim“ der Windows PowerShell der sichere, native Weg und wird verwendet, um den freien Speicher erneut zu trimmen.\r\n"
  "Fortfahren? (Während des Vorgangs nicht auf das Ziellaufwerk schreiben.)",
  "Nur Windows ReTrim (DSM / UNMAP / ATA Pass-Through überspringen)",  // 197
  // 198
  "Für inkompatible USB-SATA-Bridges (z. B. Vansuny U52, SSK). "
  "Überspringt alle Hardware-TRIM-Wege und führt direkt Windows Optimize-Volume -ReTrim aus.",
  // 199
  "Diese USB-SATA-Bridge unterstützt TRIM auf exFAT/FAT32 nicht.\r\n"
  "Bitte formatieren Sie das Laufwerk als NTFS neu, um Windows ReTrim zu nutzen, und versuchen Sie es erneut.",
  "TRIM-Kompatibilitätswarnung",  // 200
  // 201
  "Diese USB-SATA-Bridge meldet, dass TRIM NICHT unterstützt wird.\r\n"
  "Alle TRIM-Wege (DSM / SCSI UNMAP / WRITE SAME / ATA Pass-Through) werden wahrscheinlich fehlschlagen.\r\n"
  "\r\n"
  "Trotzdem fortfahren?",
  "Mit Windows ReTrim fortfahren",  // 202
  // 203
  "Sie können Hardware-TRIM überspringen und nur Windows Optimize-Volume -ReTrim ausführen.\r\n"
  "(Dies funktioniert nur auf NTFS-Volumes.)\r\n"
  "\r\n"
  "Jetzt in diesem Modus fortfahren?",
  // 204
  "Optimize-Volume -ReTrim ist nur auf NTFS-Volumes verfügbar.\r\n"
  "Dieser Datenträger hat kein NTFS-Volume, daher kann Windows ReTrim nicht als sofortige Alternative angeboten werden.\r\n"
  "\r\n"
  "Formatieren Sie das Laufwerk als NTFS und versuchen Sie es erneut, oder aktivieren Sie „Nur Windows ReTrim“ nach dem Wechsel zu NTFS manuell.",
  // 205
  "Der Datenträger scheint vom USB-Bus getrennt worden zu sein.\r\n"
  "\r\n"
  "Schließen Sie das Programm nicht und verwenden Sie nicht „Hardware sicher entfernen“ von Windows.\r\n"
  "Ziehen Sie das Laufwerk zuerst physisch ab, schließen Sie es wieder an und warten Sie, bis Windows es erneut erkennt.\r\n"
  "Sobald das Laufwerk wieder erkannt wird, aktualisieren Sie die Datenträgerliste und führen Sie den Vorgang erneut aus.",
  "Experte: Wiederholung per ATA Pass-Through nach ReTrim-Fehler zulassen (riskant)",  // 206
  "Im Automatikmodus kann das Programm nach einem ReTrim-Fehler Sperren/Aushängen mit Warnung + Wiederholung per ATA Pass-Through anbieten.",  // 207
  // 208
  "Optimize-Volume -ReTrim ist fehlgeschlagen (zum Beispiel StorageWMI 43022).\r\n"
  "Manuelles ATA Pass-Through kann an dieser Bridge noch funktionieren, erfordert aber Sperren/Aushängen und kann empfindliche Bridges destabilisieren.\r\n"
  "\r\n"
  "Experten-Wiederholung per ATA Pass-Through ausführen?",
  "Logisches Laufwerk für den Praxistest auswählen.",  // 209
  "Geschwindigkeitsdiagramm",  // 210
  "Zeitreihendiagramm der Schreibgeschwindigkeit des letzten Testlaufs anzeigen.",  // 211
  "Diagramm der Schreibgeschwindigkeit",  // 212
  "Datenpunkte: %d | Max. Geschwindigkeit: %.1f MB/s | Dauer: %s",  // 213
  "CSV speichern",  // 214
  "Schließen",  // 215
  "Geschwindigkeitsdaten als CSV speichern",  // 216
  "Status: Datenträger werden gesucht...",  // 217
  "Status: Bereit",  // 218
  "Status: Abgeschlossen",  // 219
  "Status: ",  // 220
  "Geschwindigkeit: ",  // 221
  "Verstrichen: ",  // 222
  "Schritt: ",  // 223
  "FS-Richtlinie: Modus für freien Speicher aktiviert (NTFS/exFAT/FAT32-Volumes erkannt)",  // 224
  "FS-Richtlinie: Modus für freien Speicher aktiviert (NTFS/exFAT/FAT32)",  // 225
  "FS-Richtlinie: Modus für freien Speicher deaktiviert - ",  // 226
  "CSV-Erstellung fehlgeschlagen (erstellt): ",  // 227
  "CSV-Erstellung fehlgeschlagen (gelöscht): ",  // 228
  "CSV: Abfrage der physischen Adresse fehlgeschlagen idx=%d %s (err=%d)",  // 229
  "SCHRITT4 Prüfen",  // 230
  "CSV gespeichert: ",  // 231
  "Datenträger nach TRIM als %s initialisiert.",  // 232
  "Initialisierung des Datenträgers als %s nach TRIM fehlgeschlagen",  // 233
  "Keine Dateien im Ordner trim_real_test.",  // 234
  "Speichern der CSV fehlgeschlagen: ",  // 235
  "Initialisierung des Datenträgers übersprungen: Der TRIM-Lauf wurde nicht erfolgreich abgeschlossen. Beheben Sie das Problem und führen Sie ihn erneut aus.",  // 236
  // 237
  "Die Datenträgerkonfiguration hat sich seit der letzten Aktualisierung geändert (Datenträger ersetzt oder Volume-/Dateisystemänderung erkannt). "
  "Die Liste wird jetzt aktualisiert. Wählen Sie den Datenträger erneut aus und klicken Sie noch einmal auf Start.",
  // 238
  "Zum Schutz des eingebundenen NTFS-Volumes (Pinned-Volume-Schutz) werden die Hardware-TRIM-Wege (DSM / SCSI UNMAP / ATA Pass-Through) an dieser Bridge nicht verwendet.\r\n"
  "Für NTFS ist „Optimize-Volume -ReTrim“ der Windows PowerShell der sichere, native Weg und wird verwendet, um den freien Speicher erneut zu trimmen.\r\n"
  "Fortfahren? (Während des Vorgangs nicht auf das Ziellaufwerk schreiben.)",
  "Wiederholte Meldungen ausblenden",  // 239
  "Info-Meldungen pro Batch während der TRIM-Durchläufe unterdrücken. Warnungen und Fehler werden weiterhin protokolliert.",  // 240
  "SCHRITT5: Integritätsprüfung der 1GB-Dateien gestartet",  // 241
  "SCHRITT5 abgeschlossen: Prüfung bestanden",  // 242
  "SCHRITT5 abgeschlossen: Prüffehler gefunden",  // 243
  "SCHRITT5 Prüfen",  // 244
  "5) Integrität der 1GB-Dateien prüfen.",  // 245
  "%d Dateien geprüft: %d bestanden, %d fehlgeschlagen",  // 246
  "Hinweis: ATA-Ergebnisse werden von der USB-Bridge (SAT) gemeldet und können von der tatsächlichen SSD abweichen. UAS-Geräte trimmen über SCSI UNMAP/DSM.",  // 247
  "UASP-Methode (Experte)",  // 248
  // 249
  "Expertenmodus — Auto wird empfohlen. Erzwingt die TRIM-Methode bei UASP-Geräten: SCSI UNMAP trimmt auch freien Speicher auf FAT32/exFAT "
  "(Windows ReTrim nur für NTFS), sperrt dabei aber Volumes bzw. hängt sie aus und kann manche Bridges destabilisieren. Wird nicht gespeichert; beim Start wieder Auto.",
  // 250
  "Dieser Datenträger ist größer, als eine MBR-Partitionstabelle adressieren kann: MBR adressiert höchstens 2^32 logische Blöcke (%s auf diesem Datenträger), der Speicher darüber hinaus wäre für keine Partition nutzbar. Wählen Sie GPT und klicken Sie noch einmal auf Start.",
  "Das Volume ist für den Test zu klein: SCHRITT%d fand %s Bytes freien Speicher vor und benötigt %s Bytes.",  // 251
  "Der TRIM-Schritt ist fehlgeschlagen: Es wurde nichts getrimmt, daher sagt dieser Test nichts über TRIM aus. Die TRIM-Fehler stehen im Protokoll.",  // 252
  "Status: Abgebrochen (%d von %d Batches erledigt)",  // 253
  "Initialisierung des Datenträgers übersprungen: Der Lauf wurde abgebrochen.",  // 254
};
// clang-format on
static_assert(std::size(kLangTextDe) == kLangTextCount);
