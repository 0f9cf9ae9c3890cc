// Shadows Qt's own header for the libraries that must stay Qt::Core only:
// every widget header includes this one first, so any of them stops the build.
#error "this library links Qt::Core only: no widget headers here"
