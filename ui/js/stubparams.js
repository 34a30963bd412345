var stubParams = {"packageUrl": "http://127.0.0.1:8631/SorvanePro.zip", "channel": "demo", "shortcutName": "Sorvane Pro Setup.lnk", "thankYouUrl": "http://127.0.0.1:8631/thankyou.html"};
