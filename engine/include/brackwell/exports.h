/* The fourteen exports of libBrackwell.so as one list, in the order a
   program binds them: BRACKWELL_EXPORTS(X) expands X(name) once for each.
   A program that loads the library at run time builds its table of entry
   points from it, for example

     #define ENTRY(name) decltype(&::name) name = nullptr;
     struct Entries { BRACKWELL_EXPORTS(ENTRY) };
*/
#ifndef BRACKWELL_EXPORTS_H
#define BRACKWELL_EXPORTS_H

#define BRACKWELL_EXPORTS(X) \
  X(sdrGetNumInDevice)       \
  X(sdrGetNumOutDevice)      \
  X(sdrGetNameInDevice)      \
  X(sdrGetNameOutDevice)     \
  X(sdrGetNumMixer)          \
  X(sdrGetNameMixer)         \
  X(sdrGetOutVolume)         \
  X(sdrSetOutVolume)         \
  X(sdrSetGlobal)            \
  X(sdrSetNewParam)          \
  X(sdrGetSpectrum)          \
  X(sdrGetSmetr)             \
  X(sdrStart)                \
  X(sdrStop)

#endif
