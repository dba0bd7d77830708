// Placeholder until the window manager lands.
namespace platform {
int HeadlessBackendPlaceholder() { return 0; }
}  // namespace platform
