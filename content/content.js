/* Velnor SSO content script: placeholder until the engine is written. */
(function () { return 0; })();
