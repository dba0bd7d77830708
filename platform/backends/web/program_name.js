// Before the program starts: its name, the argv[0] it prints in its
// one-line failures, is the file name of its script without ".js"
// (ostrevane.js: "ostrevane"), as a desktop program's is that of its file.
// A page that names the program itself (Module.thisProgram) keeps its name.
if (!Module["thisProgram"] && typeof document === "object" && document.currentScript &&
    document.currentScript.src) {
  Module["thisProgram"] =
      document.currentScript.src.split(/[?#]/)[0].split("/").pop().replace(/\.js$/, "");
}
