// The page texts in the product's six languages, keyed by the install language code that the host
// publishes as the "lang" property. Every language has every key; English is the fallback for a
// language without a table. Characters outside ASCII are written as \u escapes, so the file means
// the same whatever encoding a script host assumes for it. "{0}" and "{1}" in a text stand for the
// values that the page puts in (a size, a time); "|" parts a list of texts (units from the smallest).
var pageTexts = {
  // English
  "en": {
    "title": "Sorvane Pro Setup",
    "downloading": "Downloading Sorvane Pro...",
    "extracting": "Extracting files...",
    "installing": "Installing Sorvane Pro...",
    "closeTooltip": "Close",
    "diskFull": "There is not enough free disk space to download and install Sorvane Pro. Please free some space and run the setup again.",
    "noNetwork": "No Internet connection was found. Please check your connection and run the setup again.",
    "networkProblem": "Sorvane Pro could not be downloaded. Please try again later.",
    "networkSignIn": "Your network is asking you to sign in. Open a browser, sign in to the network, then run the setup again.",
    "packageMissing": "The Sorvane Pro package was not found on the download server. Please try again later.",
    "offlineInstaller": "Download the full installer",
    "proxySignIn": "Your network's proxy server needs you to sign in. Sign in, or save your proxy user name and password in Windows Credential Manager, then run the setup again.",
    "untrustedCertificate": "The secure connection to the download server is not trusted: something on your network may be inspecting its traffic. Try another network, or ask your network administrator for help.",
    "certificateDate": "The download server's security certificate is not valid at the date your computer shows. Check your computer's date and time, then run the setup again.",
    "serverNotFound": "The download server could not be found. Check your Internet connection, then run the setup again.",
    "generalError": "An error occurred while preparing the installation of Sorvane Pro. Please run the setup again.",
    "oldSystem": "Sorvane Pro requires Windows 7 or later.",
    "sizeProgress": "{0} of {1}",
    "timeLeft": "About {0} left",
    "sizeUnits": "{0} KB|{0} MB|{0} GB",
    "timeUnits": "{0} s|{0} min|{0} h {1} min",
    "decimalSeparator": ".",
    "languageTag": "en",
    "listSeparator": ", ",
    "spokenTimeUnits": "{0} second|{0} seconds|{0} minute|{0} minutes|{0} hour|{0} hours",
    "spokenTimeLeft": "about {0} left"
  },
  // French
  "fr": {
    "title": "Installation de Sorvane Pro",
    "downloading": "T\u00e9l\u00e9chargement de Sorvane Pro...",
    "extracting": "Extraction des fichiers...",
    "installing": "Installation de Sorvane Pro...",
    "closeTooltip": "Fermer",
    "diskFull": "L'espace disque disponible est insuffisant pour t\u00e9l\u00e9charger et installer Sorvane Pro. Lib\u00e9rez de l'espace puis relancez l'installation.",
    "noNetwork": "Aucune connexion Internet n'a \u00e9t\u00e9 d\u00e9tect\u00e9e. V\u00e9rifiez votre connexion puis relancez l'installation.",
    "networkProblem": "Impossible de t\u00e9l\u00e9charger Sorvane Pro. Veuillez r\u00e9essayer plus tard.",
    "networkSignIn": "Votre r\u00e9seau vous demande de vous connecter. Ouvrez un navigateur, connectez-vous au r\u00e9seau, puis relancez l'installation.",
    "packageMissing": "Le package Sorvane Pro est introuvable sur le serveur de t\u00e9l\u00e9chargement. Veuillez r\u00e9essayer plus tard.",
    "offlineInstaller": "T\u00e9l\u00e9charger le programme d'installation complet",
    "proxySignIn": "Le serveur proxy de votre r\u00e9seau vous demande de vous identifier. Identifiez-vous, ou enregistrez votre nom d'utilisateur et votre mot de passe de proxy dans le Gestionnaire d'identification de Windows, puis relancez l'installation.",
    "untrustedCertificate": "La connexion s\u00e9curis\u00e9e au serveur de t\u00e9l\u00e9chargement n'est pas approuv\u00e9e\u00a0: un \u00e9l\u00e9ment de votre r\u00e9seau inspecte peut-\u00eatre le trafic. Essayez un autre r\u00e9seau ou demandez de l'aide \u00e0 votre administrateur r\u00e9seau.",
    "certificateDate": "Le certificat de s\u00e9curit\u00e9 du serveur de t\u00e9l\u00e9chargement n'est pas valide \u00e0 la date indiqu\u00e9e par votre ordinateur. V\u00e9rifiez la date et l'heure de votre ordinateur, puis relancez l'installation.",
    "serverNotFound": "Le serveur de t\u00e9l\u00e9chargement est introuvable. V\u00e9rifiez votre connexion Internet, puis relancez l'installation.",
    "generalError": "Une erreur s'est produite lors de la pr\u00e9paration de l'installation de Sorvane Pro. Veuillez relancer l'installation.",
    "oldSystem": "Sorvane Pro n\u00e9cessite Windows 7 ou une version ult\u00e9rieure.",
    "sizeProgress": "{0} sur {1}",
    "timeLeft": "Temps restant\u00a0: environ {0}",
    "sizeUnits": "{0} Ko|{0} Mo|{0} Go",
    "timeUnits": "{0} s|{0} min|{0} h {1} min",
    "decimalSeparator": ",",
    "languageTag": "fr",
    "listSeparator": ", ",
    "spokenTimeUnits": "{0} seconde|{0} secondes|{0} minute|{0} minutes|{0} heure|{0} heures",
    "spokenTimeLeft": "il reste environ {0}"
  },
  // Japanese
  "jp": {
    "title": "Sorvane Pro \u30bb\u30c3\u30c8\u30a2\u30c3\u30d7",
    "downloading": "Sorvane Pro \u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\u3057\u3066\u3044\u307e\u3059...",
    "extracting": "\u30d5\u30a1\u30a4\u30eb\u3092\u5c55\u958b\u3057\u3066\u3044\u307e\u3059...",
    "installing": "Sorvane Pro \u3092\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3057\u3066\u3044\u307e\u3059...",
    "closeTooltip": "\u9589\u3058\u308b",
    "diskFull": "\u30c7\u30a3\u30b9\u30af\u306e\u7a7a\u304d\u5bb9\u91cf\u304c\u4e0d\u8db3\u3057\u3066\u3044\u308b\u305f\u3081\u3001Sorvane Pro \u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\u3057\u3066\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d\u307e\u305b\u3093\u3002\u7a7a\u304d\u5bb9\u91cf\u3092\u78ba\u4fdd\u3057\u3066\u304b\u3089\u3001\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "noNetwork": "\u30a4\u30f3\u30bf\u30fc\u30cd\u30c3\u30c8\u63a5\u7d9a\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3002\u63a5\u7d9a\u3092\u78ba\u8a8d\u3057\u3066\u304b\u3089\u3001\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "networkProblem": "Sorvane Pro \u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002\u3057\u3070\u3089\u304f\u3057\u3066\u304b\u3089\u3082\u3046\u4e00\u5ea6\u304a\u8a66\u3057\u304f\u3060\u3055\u3044\u3002",
    "networkSignIn": "\u30cd\u30c3\u30c8\u30ef\u30fc\u30af\u3078\u306e\u30b5\u30a4\u30f3\u30a4\u30f3\u304c\u6c42\u3081\u3089\u308c\u3066\u3044\u307e\u3059\u3002\u30d6\u30e9\u30a6\u30b6\u30fc\u3092\u958b\u3044\u3066\u30cd\u30c3\u30c8\u30ef\u30fc\u30af\u306b\u30b5\u30a4\u30f3\u30a4\u30f3\u3057\u3066\u304b\u3089\u3001\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "packageMissing": "\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9 \u30b5\u30fc\u30d0\u30fc\u306b Sorvane Pro \u306e\u30d1\u30c3\u30b1\u30fc\u30b8\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3067\u3057\u305f\u3002\u3057\u3070\u3089\u304f\u3057\u3066\u304b\u3089\u3082\u3046\u4e00\u5ea6\u304a\u8a66\u3057\u304f\u3060\u3055\u3044\u3002",
    "offlineInstaller": "\u5b8c\u5168\u7248\u30a4\u30f3\u30b9\u30c8\u30fc\u30e9\u30fc\u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9",
    "proxySignIn": "\u30cd\u30c3\u30c8\u30ef\u30fc\u30af\u306e\u30d7\u30ed\u30ad\u30b7 \u30b5\u30fc\u30d0\u30fc\u3078\u306e\u30b5\u30a4\u30f3\u30a4\u30f3\u304c\u5fc5\u8981\u3067\u3059\u3002\u30b5\u30a4\u30f3\u30a4\u30f3\u3059\u308b\u304b\u3001\u30d7\u30ed\u30ad\u30b7\u306e\u30e6\u30fc\u30b6\u30fc\u540d\u3068\u30d1\u30b9\u30ef\u30fc\u30c9\u3092 Windows \u306e\u8cc7\u683c\u60c5\u5831\u30de\u30cd\u30fc\u30b8\u30e3\u30fc\u306b\u4fdd\u5b58\u3057\u3066\u304b\u3089\u3001\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "untrustedCertificate": "\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9 \u30b5\u30fc\u30d0\u30fc\u3078\u306e\u30bb\u30ad\u30e5\u30ea\u30c6\u30a3\u3067\u4fdd\u8b77\u3055\u308c\u305f\u63a5\u7d9a\u304c\u4fe1\u983c\u3055\u308c\u3066\u3044\u307e\u305b\u3093\u3002\u30cd\u30c3\u30c8\u30ef\u30fc\u30af\u4e0a\u306e\u4f55\u304b\u304c\u901a\u4fe1\u3092\u691c\u67fb\u3057\u3066\u3044\u308b\u53ef\u80fd\u6027\u304c\u3042\u308a\u307e\u3059\u3002\u5225\u306e\u30cd\u30c3\u30c8\u30ef\u30fc\u30af\u3092\u8a66\u3059\u304b\u3001\u30cd\u30c3\u30c8\u30ef\u30fc\u30af\u7ba1\u7406\u8005\u306b\u304a\u554f\u3044\u5408\u308f\u305b\u304f\u3060\u3055\u3044\u3002",
    "certificateDate": "\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9 \u30b5\u30fc\u30d0\u30fc\u306e\u30bb\u30ad\u30e5\u30ea\u30c6\u30a3\u8a3c\u660e\u66f8\u306f\u3001\u3053\u306e\u30b3\u30f3\u30d4\u30e5\u30fc\u30bf\u30fc\u306b\u8868\u793a\u3055\u308c\u3066\u3044\u308b\u65e5\u4ed8\u3067\u306f\u6709\u52b9\u3067\u306f\u3042\u308a\u307e\u305b\u3093\u3002\u30b3\u30f3\u30d4\u30e5\u30fc\u30bf\u30fc\u306e\u65e5\u4ed8\u3068\u6642\u523b\u3092\u78ba\u8a8d\u3057\u3066\u304b\u3089\u3001\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "serverNotFound": "\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9 \u30b5\u30fc\u30d0\u30fc\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3067\u3057\u305f\u3002\u30a4\u30f3\u30bf\u30fc\u30cd\u30c3\u30c8\u63a5\u7d9a\u3092\u78ba\u8a8d\u3057\u3066\u304b\u3089\u3001\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "generalError": "Sorvane Pro \u306e\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u306e\u6e96\u5099\u4e2d\u306b\u30a8\u30e9\u30fc\u304c\u767a\u751f\u3057\u307e\u3057\u305f\u3002\u3082\u3046\u4e00\u5ea6\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\u3002",
    "oldSystem": "Sorvane Pro \u3092\u4f7f\u7528\u3059\u308b\u306b\u306f Windows 7 \u4ee5\u964d\u304c\u5fc5\u8981\u3067\u3059\u3002",
    "sizeProgress": "{0} / {1}",
    "timeLeft": "\u6b8b\u308a\u7d04 {0}",
    "sizeUnits": "{0} KB|{0} MB|{0} GB",
    "timeUnits": "{0} \u79d2|{0} \u5206|{0} \u6642\u9593 {1} \u5206",
    "decimalSeparator": ".",
    "languageTag": "ja",
    "listSeparator": "\u3001",
    "spokenTimeUnits": "{0} \u79d2|{0} \u79d2|{0} \u5206|{0} \u5206|{0} \u6642\u9593|{0} \u6642\u9593",
    "spokenTimeLeft": "\u6b8b\u308a\u7d04 {0}"
  },
  // German
  "de": {
    "title": "Sorvane Pro Setup",
    "downloading": "Sorvane Pro wird heruntergeladen...",
    "extracting": "Dateien werden entpackt...",
    "installing": "Sorvane Pro wird installiert...",
    "closeTooltip": "Schlie\u00dfen",
    "diskFull": "Es ist nicht gen\u00fcgend freier Speicherplatz vorhanden, um Sorvane Pro herunterzuladen und zu installieren. Bitte geben Sie Speicherplatz frei und starten Sie das Setup erneut.",
    "noNetwork": "Es wurde keine Internetverbindung gefunden. Bitte pr\u00fcfen Sie Ihre Verbindung und starten Sie das Setup erneut.",
    "networkProblem": "Sorvane Pro konnte nicht heruntergeladen werden. Bitte versuchen Sie es sp\u00e4ter erneut.",
    "networkSignIn": "Ihr Netzwerk verlangt eine Anmeldung. \u00d6ffnen Sie einen Browser, melden Sie sich beim Netzwerk an und starten Sie das Setup dann erneut.",
    "packageMissing": "Das Sorvane Pro-Paket wurde auf dem Downloadserver nicht gefunden. Bitte versuchen Sie es sp\u00e4ter erneut.",
    "offlineInstaller": "Vollst\u00e4ndiges Installationsprogramm herunterladen",
    "proxySignIn": "Der Proxyserver Ihres Netzwerks verlangt eine Anmeldung. Melden Sie sich an oder speichern Sie Ihren Proxy-Benutzernamen und Ihr Kennwort in der Windows-Anmeldeinformationsverwaltung, und starten Sie das Setup dann erneut.",
    "untrustedCertificate": "Die sichere Verbindung zum Downloadserver ist nicht vertrauensw\u00fcrdig: M\u00f6glicherweise \u00fcberpr\u00fcft etwas in Ihrem Netzwerk den Datenverkehr. Versuchen Sie es in einem anderen Netzwerk oder wenden Sie sich an Ihren Netzwerkadministrator.",
    "certificateDate": "Das Sicherheitszertifikat des Downloadservers ist zu dem Datum, das Ihr Computer anzeigt, nicht g\u00fcltig. Pr\u00fcfen Sie Datum und Uhrzeit Ihres Computers und starten Sie das Setup dann erneut.",
    "serverNotFound": "Der Downloadserver wurde nicht gefunden. Pr\u00fcfen Sie Ihre Internetverbindung und starten Sie das Setup dann erneut.",
    "generalError": "Bei der Vorbereitung der Installation von Sorvane Pro ist ein Fehler aufgetreten. Bitte starten Sie das Setup erneut.",
    "oldSystem": "Sorvane Pro erfordert Windows 7 oder h\u00f6her.",
    "sizeProgress": "{0} von {1}",
    "timeLeft": "Noch etwa {0}",
    "sizeUnits": "{0} KB|{0} MB|{0} GB",
    "timeUnits": "{0} Sek.|{0} Min.|{0} Std. {1} Min.",
    "decimalSeparator": ",",
    "languageTag": "de",
    "listSeparator": ", ",
    "spokenTimeUnits": "{0} Sekunde|{0} Sekunden|{0} Minute|{0} Minuten|{0} Stunde|{0} Stunden",
    "spokenTimeLeft": "noch etwa {0}"
  },
  // Italian
  "it": {
    "title": "Installazione di Sorvane Pro",
    "downloading": "Download di Sorvane Pro in corso...",
    "extracting": "Estrazione dei file in corso...",
    "installing": "Installazione di Sorvane Pro in corso...",
    "closeTooltip": "Chiudi",
    "diskFull": "Lo spazio libero su disco non \u00e8 sufficiente per scaricare e installare Sorvane Pro. Liberare spazio ed eseguire di nuovo l'installazione.",
    "noNetwork": "Nessuna connessione a Internet rilevata. Verificare la connessione ed eseguire di nuovo l'installazione.",
    "networkProblem": "Impossibile scaricare Sorvane Pro. Riprovare pi\u00f9 tardi.",
    "networkSignIn": "La rete richiede l'accesso. Aprire un browser, accedere alla rete, quindi eseguire di nuovo l'installazione.",
    "packageMissing": "Il pacchetto di Sorvane Pro non \u00e8 stato trovato sul server di download. Riprovare pi\u00f9 tardi.",
    "offlineInstaller": "Scarica il programma di installazione completo",
    "proxySignIn": "Il server proxy della rete richiede l'accesso. Accedere, oppure salvare il nome utente e la password del proxy in Gestione credenziali di Windows, quindi eseguire di nuovo l'installazione.",
    "untrustedCertificate": "La connessione protetta al server di download non \u00e8 attendibile: qualcosa nella rete potrebbe ispezionare il traffico. Provare un'altra rete o rivolgersi all'amministratore di rete.",
    "certificateDate": "Il certificato di sicurezza del server di download non \u00e8 valido alla data indicata dal computer. Controllare la data e l'ora del computer, quindi eseguire di nuovo l'installazione.",
    "serverNotFound": "Impossibile trovare il server di download. Verificare la connessione a Internet, quindi eseguire di nuovo l'installazione.",
    "generalError": "Si \u00e8 verificato un errore durante la preparazione dell'installazione di Sorvane Pro. Eseguire di nuovo l'installazione.",
    "oldSystem": "Sorvane Pro richiede Windows 7 o versioni successive.",
    "sizeProgress": "{0} di {1}",
    "timeLeft": "Tempo rimanente: circa {0}",
    "sizeUnits": "{0} KB|{0} MB|{0} GB",
    "timeUnits": "{0} s|{0} min|{0} h {1} min",
    "decimalSeparator": ",",
    "languageTag": "it",
    "listSeparator": ", ",
    "spokenTimeUnits": "{0} secondo|{0} secondi|{0} minuto|{0} minuti|{0} ora|{0} ore",
    "spokenTimeLeft": "mancano circa {0}"
  },
  // Dutch
  "nl": {
    "title": "Sorvane Pro installeren",
    "downloading": "Sorvane Pro wordt gedownload...",
    "extracting": "Bestanden worden uitgepakt...",
    "installing": "Sorvane Pro wordt ge\u00efnstalleerd...",
    "closeTooltip": "Sluiten",
    "diskFull": "Er is onvoldoende vrije schijfruimte om Sorvane Pro te downloaden en te installeren. Maak ruimte vrij en start de installatie opnieuw.",
    "noNetwork": "Er is geen internetverbinding gevonden. Controleer uw verbinding en start de installatie opnieuw.",
    "networkProblem": "Sorvane Pro kan niet worden gedownload. Probeer het later opnieuw.",
    "networkSignIn": "Uw netwerk vraagt u zich aan te melden. Open een browser, meld u aan bij het netwerk en start de installatie daarna opnieuw.",
    "packageMissing": "Het Sorvane Pro-pakket is niet gevonden op de downloadserver. Probeer het later opnieuw.",
    "offlineInstaller": "Volledig installatieprogramma downloaden",
    "proxySignIn": "De proxyserver van uw netwerk vraagt u zich aan te melden. Meld u aan, of sla uw gebruikersnaam en wachtwoord voor de proxy op in Windows Referentiebeheer, en start de installatie daarna opnieuw.",
    "untrustedCertificate": "De beveiligde verbinding met de downloadserver wordt niet vertrouwd: mogelijk inspecteert iets op uw netwerk het verkeer. Probeer een ander netwerk of vraag uw netwerkbeheerder om hulp.",
    "certificateDate": "Het beveiligingscertificaat van de downloadserver is niet geldig op de datum die uw computer aangeeft. Controleer de datum en tijd van uw computer en start de installatie daarna opnieuw.",
    "serverNotFound": "De downloadserver is niet gevonden. Controleer uw internetverbinding en start de installatie daarna opnieuw.",
    "generalError": "Er is een fout opgetreden bij het voorbereiden van de installatie van Sorvane Pro. Start de installatie opnieuw.",
    "oldSystem": "Voor Sorvane Pro is Windows 7 of hoger vereist.",
    "sizeProgress": "{0} van {1}",
    "timeLeft": "Nog ongeveer {0}",
    "sizeUnits": "{0} KB|{0} MB|{0} GB",
    "timeUnits": "{0} s|{0} min|{0} u {1} min",
    "decimalSeparator": ",",
    "languageTag": "nl",
    "listSeparator": ", ",
    "spokenTimeUnits": "{0} seconde|{0} seconden|{0} minuut|{0} minuten|{0} uur|{0} uur",
    "spokenTimeLeft": "nog ongeveer {0}"
  }
};

// The texts for a language code, each one taken from English where that language has none.
function textsForLanguage(code) {
  var has = Object.prototype.hasOwnProperty;
  var english = pageTexts.en;
  var own = has.call(pageTexts, String(code)) ? pageTexts[String(code)] : english;
  var texts = {};
  var key;
  for (key in english) {
    if (has.call(english, key)) {
      texts[key] = has.call(own, key) ? own[key] : english[key];
    }
  }
  return texts;
}
