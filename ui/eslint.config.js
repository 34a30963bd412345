// ESLint for the pages: the scripts and the inline scripts of the HTML pages must run in the
// oldest engine the stub supports (JScript 5.8 of IE8 on Windows 7), hence ECMAScript 3. Run from
// this folder: `eslint .` (ui.eslint in CTest).
"use strict";
const js = require("../node_modules/@eslint/js");
const html = require("../node_modules/eslint-plugin-html");

// How the script object must be called: getProperty only inside an expression (the host demands
// the property-get flag), every other command only as a statement of its own (the host demands the
// plain method flag), and the object never handed around, so that every call is seen here.
const scriptObjectCalls = [
  {
    selector:
      "CallExpression[callee.object.name='external'][callee.property.name!='getProperty']" +
      ":not(ExpressionStatement > CallExpression)",
    message: "Call this script-object command as a statement of its own; its value cannot be used."
  },
  {
    selector: "ExpressionStatement > CallExpression[callee.object.name='external'][callee.property.name='getProperty']",
    message: "Use the value of getProperty: called as a statement, the script object refuses it."
  },
  {
    selector: "MemberExpression[object.name='external']:not(CallExpression > MemberExpression.callee)",
    message: "Only call the script object's commands directly (external.name(...))."
  },
  {
    selector: "MemberExpression[object.name='external'][computed=true]",
    message: "Name script-object commands literally."
  },
  {
    selector: ":not(MemberExpression) > Identifier[name='external']",
    message: "Do not pass the script object around; call its commands directly."
  }
];

// Library functions of ES5 and later that JScript 5.8 lacks. map and filter are also jQuery
// methods, so they are refused only in js/.
const es5Library = ["forEach", "reduce", "reduceRight", "some", "every", "trim", "bind", "keys",
  "isArray", "now", "create", "defineProperty", "getPrototypeOf", "toISOString"];

function refused(names) {
  return ["error", ...names.map((property) => ({
    property,
    message: "Not in ECMAScript 3 (IE8's JScript lacks it)."
  }))];
}

const es3Rules = {
  ...js.configs.recommended.rules,
  // IE8 counts a trailing comma in an array literal as one more element.
  "comma-dangle": ["error", "never"],
  // Reserved words as property names break ES3 engines.
  "dot-notation": ["error", { allowKeywords: false }],
  "quote-props": ["error", "as-needed", { keywords: true, unnecessary: false }],
  // The scripts of js/ define what the others use (declared below as globals).
  "no-redeclare": ["error", { builtinGlobals: false }],
  "no-restricted-syntax": ["error", ...scriptObjectCalls],
  "no-var": "off",
  eqeqeq: "error",
  "no-shadow": "error",
  "no-implicit-globals": "off"
};

// What the scripts of js/ define for one another (they share the page's global scope, or the
// headless engine's).
const sharedScriptGlobals = {
  external: "readonly",
  stubParams: "readonly",
  installParams: "readonly",
  pageTexts: "readonly",
  textsForLanguage: "readonly"
};

module.exports = [
  {
    ignores: ["js/jquery-*.js", "checks/**", "eslint.config.js"]
  },
  {
    // The workflow and data scripts: no DOM, no browser object, no timers of their own.
    files: ["js/**/*.js"],
    languageOptions: {
      ecmaVersion: 3,
      sourceType: "script",
      globals: sharedScriptGlobals
    },
    linterOptions: { reportUnusedDisableDirectives: "error" },
    rules: {
      ...es3Rules,
      "no-unused-vars": ["error", { vars: "local", args: "after-used" }],
      "no-restricted-properties": refused([...es5Library, "map", "filter"]),
      "no-restricted-globals": [
        "error",
        "window", "document", "$", "jQuery", "navigator", "location", "alert",
        "setTimeout", "setInterval", "clearTimeout", "clearInterval", "JSON"
      ]
    }
  },
  {
    // The pages' inline scripts hold the DOM code and reach the script object only through the
    // workflow's functions.
    files: ["**/*.html"],
    plugins: { html },
    languageOptions: {
      ecmaVersion: 3,
      sourceType: "script",
      globals: {
        window: "readonly",
        document: "readonly",
        $: "readonly",
        runLoadPage: "readonly",
        startDownloadPage: "readonly",
        stopDownloadPage: "readonly",
        requestClose: "readonly",
        openOfflineInstaller: "readonly",
        submitProxySignIn: "readonly",
        cancelProxySignIn: "readonly",
        startWindowDrag: "readonly",
        workflowSettings: "readonly"
      }
    },
    rules: {
      ...es3Rules,
      "no-restricted-properties": refused(es5Library),
      "no-restricted-globals": ["error", "external", "alert", "confirm", "prompt", "JSON"]
    }
  }
];
