var installParams = {"LANG":["en","fr","jp","de","it","nl"]};
