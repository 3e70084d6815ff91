// Native loading of the CUDA libraries with the dynamic linker. A plain name goes through the
// linker's own search (its cache, the system folders, LD_LIBRARY_PATH), which never includes the
// current directory by itself; a name with a slash would be opened relative to it and is refused.
#include "dsp/posix_uCudaLoader.h"

#include <dlfcn.h>
#include <link.h>

namespace {

class TPosixCudaLoader : public ICudaLoader {
public:
  // Empty Folder: plain names through the linker's search; else an absolute folder.
  explicit TPosixCudaLoader(std::string Folder, bool Restricted)
      : FFolder(std::move(Folder)), FRestricted(Restricted) {}

  void *Open(const std::string &Name, std::string &LoadedPath) override {
    LoadedPath.clear();
    if (Name.empty() || Name.find('/') != std::string::npos)
      return nullptr;
    std::string Target = Name;
    if (FRestricted) {
      if (FFolder.empty() || FFolder.front() != '/')
        return nullptr;
      Target = FFolder + "/" + Name;
    }
    // An installed toolkit stays mapped once opened (closing only drops our reference): its
    // runtime may leave threads and exit handlers behind, which must not outlive its code. The
    // engine exists once per process, so nothing piles up.
    void *Lib = dlopen(Target.c_str(), RTLD_NOW | RTLD_LOCAL | (FRestricted ? 0 : RTLD_NODELETE));
    if (!Lib)
      return nullptr;
    LoadedPath = Target;
    struct link_map *Map = nullptr;
    if (dlinfo(Lib, RTLD_DI_LINKMAP, &Map) == 0 && Map && Map->l_name && Map->l_name[0] == '/')
      LoadedPath = Map->l_name;
    return Lib;
  }

  void *Symbol(void *Lib, const char *Name) override { return dlsym(Lib, Name); }

  void Close(void *Lib) override { dlclose(Lib); }

private:
  std::string FFolder;
  bool FRestricted;
};

} // namespace

std::unique_ptr<ICudaLoader> CreateSystemCudaLoader() {
  return std::make_unique<TPosixCudaLoader>(std::string(), false);
}

const TCudaLibraryNames &SystemCudaLibraryNames() {
  return CudaSharedObjectNames();
}

std::unique_ptr<ICudaLoader> CreateCudaLoaderIn(const std::string &Dir) {
  return std::make_unique<TPosixCudaLoader>(Dir, true);
}
