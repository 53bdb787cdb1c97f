// The emulator engine lives in this folder.
namespace korvane::sim {
int placeholder() { return 0; }
} // namespace korvane::sim
