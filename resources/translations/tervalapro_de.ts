<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>About Tervala Pro</source>
        <translation>Über Tervala Pro</translation>
    </message>
    <message>
        <source>Tervala Pro icon</source>
        <translation>Symbol von Tervala Pro</translation>
    </message>
    <message>
        <source>Tervala Pro 1.0.0.0</source>
        <translation>Tervala Pro 1.0.0.0</translation>
    </message>
    <message>
        <source>Copyright (C) Quornix. All rights reserved.</source>
        <translation>Copyright (C) Quornix. Alle Rechte vorbehalten.</translation>
    </message>
</context>
<context>
    <name>CContactSupport</name>
    <message>
        <source>The service log (%1) was not attached: %2.</source>
        <translation>Das Dienstprotokoll (%1) wurde nicht angehängt: %2.</translation>
    </message>
</context>
<context>
    <name>CContactSupportDlg</name>
    <message>
        <source>Contact Support</source>
        <translation>Support kontaktieren</translation>
    </message>
    <message>
        <source>(SupportEmail is not set)</source>
        <translation>(SupportEmail ist nicht gesetzt)</translation>
    </message>
    <message>
        <source>To</source>
        <translation>An</translation>
    </message>
    <message>
        <source>To                    :</source>
        <translation>An                  :</translation>
    </message>
    <message>
        <source>Your Name</source>
        <translation>Ihr Name</translation>
    </message>
    <message>
        <source>Your Name      :</source>
        <translation>Ihr Name        :</translation>
    </message>
    <message>
        <source>Your E-mail</source>
        <translation>Ihre E-Mail</translation>
    </message>
    <message>
        <source>Your E-mail      :</source>
        <translation>Ihre E-Mail       :</translation>
    </message>
    <message>
        <source>Subject</source>
        <translation>Betreff</translation>
    </message>
    <message>
        <source>Subject            :</source>
        <translation>Betreff             :</translation>
    </message>
    <message>
        <source>Message         :</source>
        <translation>Nachricht        :</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Nachricht</translation>
    </message>
    <message>
        <source>Service log tail</source>
        <translation>Ende des Dienstprotokolls</translation>
    </message>
    <message>
        <source>&amp;Details</source>
        <translation>&amp;Details</translation>
    </message>
    <message>
        <source>Show the end of the service log that is sent with your message</source>
        <translation>Das Ende des Dienstprotokolls zeigen, das mit Ihrer Nachricht gesendet wird</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Sending to %1 ...</source>
        <translation>Wird an %1 gesendet ...</translation>
    </message>
    <message>
        <source>Sent.</source>
        <translation>Gesendet.</translation>
    </message>
    <message>
        <source>Not sent.</source>
        <translation>Nicht gesendet.</translation>
    </message>
    <message>
        <source>Goes to %1</source>
        <translation>Geht an %1</translation>
    </message>
    <message>
        <source>%1
Appended to your message: the end of %2 (%3 characters)</source>
        <translation>%1
An Ihre Nachricht angehängt: das Ende von %2 (%3 Zeichen)</translation>
    </message>
</context>
<context>
    <name>CInvitationAuthPage</name>
    <message>
        <source>Nick name           :</source>
        <translation>Spitzname           :</translation>
    </message>
    <message>
        <source>Nick name</source>
        <translation>Spitzname</translation>
    </message>
    <message>
        <source>Password           :</source>
        <translation>Passwort           :</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
</context>
<context>
    <name>COnlineUsersTree</name>
    <message>
        <source>Networks and peers</source>
        <translation>Netzwerke und Teilnehmer</translation>
    </message>
    <message>
        <source>Running networks with their connected peers. Open the context menu on a network or peer to close the network.</source>
        <translation>Laufende Netzwerke mit ihren verbundenen Teilnehmern. Öffnen Sie das Kontextmenü eines Netzwerks oder Teilnehmers, um das Netzwerk zu schließen.</translation>
    </message>
</context>
<context>
    <name>CProgressDlg</name>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>CRemoteAccess</name>
    <message>
        <source>The network was joined, but the service gave no address for the computer that invited you, so Remote Desktop could not be started.</source>
        <translation>Sie sind dem Netzwerk beigetreten, aber der Dienst hat keine Adresse des Computers genannt, der Sie eingeladen hat. Remotedesktop konnte daher nicht gestartet werden.</translation>
    </message>
    <message>
        <source>The network was joined, but the service gave &quot;%1&quot; as the address of the computer that invited you, which is not a computer name or address, so Remote Desktop was not started.</source>
        <translation>Sie sind dem Netzwerk beigetreten, aber der Dienst hat „%1“ als Adresse des Computers genannt, der Sie eingeladen hat. Das ist weder ein Computername noch eine Adresse, daher wurde Remotedesktop nicht gestartet.</translation>
    </message>
    <message>
        <source>The network was joined, but no Remote Desktop client was found to connect to %1.

Install FreeRDP (xfreerdp) or Remmina, or set RemoteDesktopCommand in %2.</source>
        <translation>Sie sind dem Netzwerk beigetreten, aber es wurde kein Remotedesktop-Client gefunden, um eine Verbindung mit %1 herzustellen.

Installieren Sie FreeRDP (xfreerdp) oder Remmina, oder setzen Sie RemoteDesktopCommand in %2.</translation>
    </message>
    <message>
        <source>The network was joined, but the Remote Desktop client %1 could not be started to connect to %2: %3</source>
        <translation>Sie sind dem Netzwerk beigetreten, aber der Remotedesktop-Client %1 konnte nicht gestartet werden, um eine Verbindung mit %2 herzustellen: %3</translation>
    </message>
    <message>
        <source>xdg-open was not found</source>
        <translation>xdg-open wurde nicht gefunden</translation>
    </message>
    <message>
        <source>The Remote Assistance invitation was saved at %1, but no program could open it (%2). Open the file with a Remote Assistance program yourself.</source>
        <translation>Die Remoteunterstützungs-Einladung wurde unter %1 gespeichert, aber kein Programm konnte sie öffnen (%2). Öffnen Sie die Datei selbst mit einem Programm für Remoteunterstützung.</translation>
    </message>
</context>
<context>
    <name>CSupportSender</name>
    <message>
        <source>The server answered %1</source>
        <translation>Der Server antwortete %1</translation>
    </message>
    <message>
        <source>Sending was cancelled.</source>
        <translation>Das Senden wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The support web server did not answer within %1 %2.</source>
        <translation>Der Support-Webserver hat nicht innerhalb von %1 %2 geantwortet.</translation>
    </message>
    <message>
        <source>second</source>
        <translation>Sekunde</translation>
    </message>
    <message>
        <source>seconds</source>
        <translation>Sekunden</translation>
    </message>
</context>
<context>
    <name>CTervalaprouiDlg</name>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Erstellen</translation>
    </message>
    <message>
        <source>&amp;Join</source>
        <translation>&amp;Beitreten</translation>
    </message>
    <message>
        <source>E&amp;xisting Networks</source>
        <translation>&amp;Vorhandene Netzwerke</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>Ausblenden</translation>
    </message>
    <message>
        <source>Menu bar</source>
        <translation>Menüleiste</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Add Network</source>
        <translation>Netzwerk &amp;erstellen</translation>
    </message>
    <message>
        <source>&amp;Join Network</source>
        <translation>Netzwerk &amp;beitreten</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>&amp;Aktualisieren</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>B&amp;eenden</translation>
    </message>
    <message>
        <source>&amp;Contact Support</source>
        <translation>&amp;Support kontaktieren</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>Ü&amp;ber</translation>
    </message>
    <message>
        <source>E&amp;xisting Networks</source>
        <comment>button</comment>
        <translation>&amp;Vorhandene</translation>
    </message>
</context>
<context>
    <name>ServiceLogTail</name>
    <message>
        <source>the file does not exist</source>
        <translation>die Datei existiert nicht</translation>
    </message>
    <message>
        <source>it is a symbolic link</source>
        <translation>sie ist ein symbolischer Link</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>sie ist keine reguläre Datei</translation>
    </message>
    <message>
        <source>it belongs to another user</source>
        <translation>sie gehört einem anderen Benutzer</translation>
    </message>
    <message>
        <source>it has more than one link</source>
        <translation>sie hat mehr als einen Link</translation>
    </message>
    <message>
        <source>it holds no log lines yet</source>
        <translation>sie enthält noch keine Protokollzeilen</translation>
    </message>
</context>
<context>
    <name>StringTable</name>
    <message>
        <source>&amp;About Tervalaproui...</source>
        <translation>Ü&amp;ber Tervalaproui...</translation>
    </message>
    <message>
        <source>Please provide your e-mail address for providing assitance.</source>
        <translation>Bitte geben Sie Ihre E-Mail-Adresse an, damit wir Ihnen helfen können.</translation>
    </message>
    <message>
        <source>Provide a unique nickname to identify yourself in the network. Also select the session for this network with a expiry time.</source>
        <translation>Geben Sie einen eindeutigen Spitznamen an, unter dem Sie im Netzwerk erscheinen. Wählen Sie außerdem die Sitzungsart dieses Netzwerks und seine Ablaufzeit.</translation>
    </message>
    <message>
        <source>Invitation Files(*.Tervalapro)|*.Tervalapro||</source>
        <translation>Einladungsdateien(*.Tervalapro)|*.Tervalapro||</translation>
    </message>
    <message>
        <source>Please enter a nickname for the session</source>
        <translation>Bitte geben Sie einen Spitznamen für die Sitzung ein</translation>
    </message>
    <message>
        <source>Select the network invitation file....</source>
        <translation>Netzwerk-Einladungsdatei auswählen....</translation>
    </message>
    <message>
        <source>Network invitation file is created successfully.</source>
        <translation>Die Netzwerk-Einladungsdatei wurde erfolgreich erstellt.</translation>
    </message>
    <message>
        <source>Successfully connected to the %s network.</source>
        <translation>Erfolgreich mit dem Netzwerk %s verbunden.</translation>
    </message>
    <message>
        <source>Select a valid session name</source>
        <translation>Wählen Sie einen gültigen Sitzungsnamen</translation>
    </message>
    <message>
        <source>Provide a valid session name</source>
        <translation>Geben Sie einen gültigen Sitzungsnamen an</translation>
    </message>
    <message>
        <source>Provide valid port values separated by comma.</source>
        <translation>Geben Sie gültige Portnummern durch Kommas getrennt an.</translation>
    </message>
    <message>
        <source>Already a session with this name exists. Please provide a unique session name.</source>
        <translation>Es gibt bereits eine Sitzung mit diesem Namen. Bitte geben Sie einen eindeutigen Sitzungsnamen an.</translation>
    </message>
    <message>
        <source>Application Exe Files(*.exe)|*.exe||</source>
        <translation>Ausführbare Programmdateien(*.exe)|*.exe||</translation>
    </message>
    <message>
        <source>Select the application filepath...</source>
        <translation>Programmdatei auswählen...</translation>
    </message>
    <message>
        <source>Advanced &gt;&gt;</source>
        <translation>Erweitert &gt;&gt;</translation>
    </message>
    <message>
        <source>Advanced &lt;&lt;</source>
        <translation>Erweitert &lt;&lt;</translation>
    </message>
    <message>
        <source>Connecting to the network server....</source>
        <translation>Verbindung mit dem Netzwerkserver wird hergestellt....</translation>
    </message>
    <message>
        <source>Tervala Pro</source>
        <translation>Tervala Pro</translation>
    </message>
    <message>
        <source>Tervala Pro Peer-To-Peer infrastructure initialized successfully</source>
        <translation>Die Peer-to-Peer-Infrastruktur von Tervala Pro wurde erfolgreich gestartet</translation>
    </message>
    <message>
        <source>Tervala Pro active</source>
        <translation>Tervala Pro aktiv</translation>
    </message>
    <message>
        <source>Tervala Pro Peer-To-Peer infrastructure failed to start or stopped working</source>
        <translation>Die Peer-to-Peer-Infrastruktur von Tervala Pro konnte nicht starten oder funktioniert nicht mehr</translation>
    </message>
    <message>
        <source>Tervala Pro inactive</source>
        <translation>Tervala Pro inaktiv</translation>
    </message>
    <message>
        <source>Add Network</source>
        <translation>Netzwerk erstellen</translation>
    </message>
    <message>
        <source>Resolving network server name...</source>
        <translation>Name des Netzwerkservers wird aufgelöst...</translation>
    </message>
    <message>
        <source>Join Network</source>
        <translation>Netzwerk beitreten</translation>
    </message>
    <message>
        <source>Show Existing</source>
        <translation>Vorhandene anzeigen</translation>
    </message>
    <message>
        <source>All network invitations are expired or no invitation is created.</source>
        <translation>Alle Netzwerk-Einladungen sind abgelaufen, oder es wurde noch keine Einladung erstellt.</translation>
    </message>
    <message>
        <source>Network Invitation authentication</source>
        <translation>Anmeldung mit der Netzwerk-Einladung</translation>
    </message>
    <message>
        <source>Provide a unique nickname to identify yourself in the network &amp; the password associated with the invitation file.</source>
        <translation>Geben Sie einen eindeutigen Spitznamen an, unter dem Sie im Netzwerk erscheinen, und das Passwort der Einladungsdatei.</translation>
    </message>
    <message>
        <source>Save the network invitation File....</source>
        <translation>Netzwerk-Einladungsdatei speichern....</translation>
    </message>
    <message>
        <source>Existing network invitations</source>
        <translation>Vorhandene Netzwerk-Einladungen</translation>
    </message>
    <message>
        <source>Please select a valid path for the invitation File</source>
        <translation>Bitte wählen Sie einen gültigen Pfad für die Einladungsdatei</translation>
    </message>
    <message>
        <source>Please enter a valid password</source>
        <translation>Bitte geben Sie ein gültiges Passwort ein</translation>
    </message>
    <message>
        <source>Displays the existing networks created previously. Select a invitation to delete or click next to create a new network invitation.</source>
        <translation>Zeigt die bisher erstellten Netzwerke. Wählen Sie eine Einladung zum Löschen aus, oder klicken Sie auf Weiter, um eine neue Netzwerk-Einladung zu erstellen.</translation>
    </message>
    <message>
        <source>Password doesn&apos;t match</source>
        <translation>Die Passwörter stimmen nicht überein</translation>
    </message>
    <message>
        <source>Saving the network invitation</source>
        <translation>Netzwerk-Einladung speichern</translation>
    </message>
    <message>
        <source>Provide the location where you like to save the password protected network invitation file.</source>
        <translation>Geben Sie an, wo die passwortgeschützte Netzwerk-Einladungsdatei gespeichert werden soll.</translation>
    </message>
    <message>
        <source>Error report is successfully sent to the support.</source>
        <translation>Der Fehlerbericht wurde erfolgreich an den Support gesendet.</translation>
    </message>
    <message>
        <source>Network Session Selection</source>
        <translation>Auswahl der Netzwerksitzung</translation>
    </message>
    <message>
        <source>Sending error report failed. Please check your internet connection or firewall &amp; then try again.</source>
        <translation>Der Fehlerbericht konnte nicht gesendet werden. Bitte prüfen Sie Ihre Internetverbindung und Ihre Firewall, und versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>&lt;Give a small brief about the issue here. Our support team will get back to you for further assistance in the provided E-mail address&gt;</source>
        <translation>&lt;Beschreiben Sie das Problem hier kurz. Unser Support-Team meldet sich für weitere Hilfe unter der angegebenen E-Mail-Adresse bei Ihnen&gt;</translation>
    </message>
    <message>
        <source>Password should be at least six (6) characters long.</source>
        <translation>Das Passwort muss mindestens sechs (6) Zeichen lang sein.</translation>
    </message>
    <message>
        <source>File creation failed for writing</source>
        <translation>Die Datei konnte nicht zum Schreiben angelegt werden</translation>
    </message>
    <message>
        <source>Failed to open file</source>
        <translation>Die Datei konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Invalid password or corrupted invitation file</source>
        <translation>Falsches Passwort oder beschädigte Einladungsdatei</translation>
    </message>
    <message>
        <source>Unable to establish connection with the service</source>
        <translation>Es konnte keine Verbindung mit dem Dienst hergestellt werden</translation>
    </message>
    <message>
        <source>Failed to read/write to the service</source>
        <translation>Lesen vom oder Schreiben zum Dienst fehlgeschlagen</translation>
    </message>
    <message>
        <source>Failed to export certificate </source>
        <translation>Das Zertifikat konnte nicht exportiert werden </translation>
    </message>
    <message>
        <source>Failed to import certificate</source>
        <translation>Das Zertifikat konnte nicht importiert werden</translation>
    </message>
    <message>
        <source>Failed to get subject name for the certificate</source>
        <translation>Der Inhabername des Zertifikats konnte nicht ermittelt werden</translation>
    </message>
    <message>
        <source>Failed to create Remote Assistance ticket</source>
        <translation>Das Remoteunterstützungs-Ticket konnte nicht erstellt werden</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Existing Networks</source>
        <translation>Vorhandene Netzwerke</translation>
    </message>
    <message>
        <source>Show Tervala Pro</source>
        <translation>Tervala Pro anzeigen</translation>
    </message>
    <message>
        <source>Contact Support</source>
        <translation>Support kontaktieren</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Close Server</source>
        <translation>Server schließen</translation>
    </message>
    <message>
        <source>Tervala Pro service is not running</source>
        <translation>Der Tervala-Pro-Dienst läuft nicht</translation>
    </message>
    <message>
        <source>The Tervala Pro service stopped or cannot be reached. Tervala Pro keeps trying to connect to it.</source>
        <translation>Der Tervala-Pro-Dienst wurde beendet oder ist nicht erreichbar. Tervala Pro versucht weiter, sich mit ihm zu verbinden.</translation>
    </message>
    <message>
        <source>The connection to the Tervala Pro service was lost before the network was joined. Try again once the service runs.</source>
        <translation>Die Verbindung zum Tervala-Pro-Dienst ging verloren, bevor Sie dem Netzwerk beigetreten sind. Versuchen Sie es erneut, sobald der Dienst läuft.</translation>
    </message>
    <message>
        <source>The connection to the Tervala Pro service was lost before the network invitation file was created. Try again once the service runs.</source>
        <translation>Die Verbindung zum Tervala-Pro-Dienst ging verloren, bevor die Netzwerk-Einladungsdatei erstellt wurde. Versuchen Sie es erneut, sobald der Dienst läuft.</translation>
    </message>
    <message>
        <source>the service socket belongs to a process of another user (uid %1); only root or this user may serve it</source>
        <translation>der Dienst-Socket gehört einem Prozess eines anderen Benutzers (UID %1); nur root oder dieser Benutzer darf ihn bereitstellen</translation>
    </message>
    <message>
        <source>No session type is defined yet. Use Add New Session to add one, then press Next.</source>
        <translation>Es ist noch kein Sitzungstyp festgelegt. Legen Sie mit „Add New Session“ einen an und klicken Sie dann auf „Weiter“.</translation>
    </message>
    <message>
        <source>The network could not be created; the service gave no reason.</source>
        <translation>Das Netzwerk konnte nicht erstellt werden; der Dienst hat keinen Grund genannt.</translation>
    </message>
    <message>
        <source>These stored network invitations could not be read. They were left as they are:</source>
        <translation>Diese gespeicherten Netzwerkeinladungen konnten nicht gelesen werden. Sie wurden unverändert gelassen:</translation>
    </message>
    <message>
        <source>Reading the stored network invitations...</source>
        <translation>Gespeicherte Netzwerkeinladungen werden gelesen ...</translation>
    </message>
    <message>
        <source>expires in %1</source>
        <translation>läuft in %1 ab</translation>
    </message>
    <message>
        <source>has expired</source>
        <translation>ist abgelaufen</translation>
    </message>
    <message>
        <source>less than a minute</source>
        <translation>weniger als einer Minute</translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 Minuten</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 Stunde</translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation>%1 Stunden</translation>
    </message>
    <message>
        <source>%1 days</source>
        <translation>%1 Tagen</translation>
    </message>
    <message>
        <source>Expires within 24 hours</source>
        <translation>Läuft innerhalb von 24 Stunden ab</translation>
    </message>
    <message>
        <source>Network expiring soon</source>
        <translation>Netzwerk läuft bald ab</translation>
    </message>
    <message>
        <source>The network %1 %2 (%3). Use Existing Networks to invite people again while it lasts.</source>
        <translation>Das Netzwerk %1 %2 (%3). Laden Sie über „Vorhandene Netzwerke“ erneut Personen ein, solange es besteht.</translation>
    </message>
    <message>
        <source>%1 networks expire within 24 hours: %2. Use Existing Networks to invite people again while they last.</source>
        <translation>%1 Netzwerke laufen innerhalb von 24 Stunden ab: %2. Laden Sie über „Vorhandene Netzwerke“ erneut Personen ein, solange sie bestehen.</translation>
    </message>
    <message>
        <source>... and %1 more</source>
        <translation>... und %1 weitere</translation>
    </message>
    <message>
        <source>The stored invitation of the network %1 could not be deleted.</source>
        <translation>Die gespeicherte Einladung des Netzwerks %1 konnte nicht gelöscht werden.</translation>
    </message>
    <message>
        <source>The network %1 has expired in the meantime. No invitation file was written.</source>
        <translation>Das Netzwerk %1 ist inzwischen abgelaufen. Es wurde keine Einladungsdatei geschrieben.</translation>
    </message>
</context>
<context>
    <name>SupportReport</name>
    <message>
        <source> Set SupportHost (&quot;host&quot; or &quot;host:port&quot;) in %1.</source>
        <translation> Setzen Sie SupportHost („host“ oder „host:port“) in %1.</translation>
    </message>
    <message>
        <source>The support web server is not configured.</source>
        <translation>Der Support-Webserver ist nicht eingerichtet.</translation>
    </message>
    <message>
        <source>The support web server &quot;%1&quot; is not a valid address.</source>
        <translation>Der Support-Webserver „%1“ ist keine gültige Adresse.</translation>
    </message>
</context>
</TS>
