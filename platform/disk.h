// Free space of the disks outputs go to. Drive letters become mount
// points: the volumes are the local file systems of the mount table.
#pragma once

#include <string>
#include <vector>

struct Volume {
  std::string mount;  // mount point
  double free_bytes = 0.0;
};

class Disk {
 public:
  virtual ~Disk() = default;
  // Bytes free to this user on the file system holding path (the path or
  // its nearest existing parent); 0.0 when it cannot be told.
  virtual double free_bytes(const std::string& path) = 0;
  // The local disk file systems with their free space, in mount order.
  virtual std::vector<Volume> volumes() = 0;
};

// Mount points of local disks in the text of a mount table (fstab
// format: device, mount point, type, ...): devices under /dev/, without
// pseudo and network file systems, in order, escapes ("\040") decoded.
std::vector<std::string> parse_mount_table(const std::string& text);

class SystemDisk : public Disk {
 public:
  explicit SystemDisk(std::string mount_table = "/proc/self/mounts") : table_(std::move(mount_table)) {}
  double free_bytes(const std::string& path) override;
  std::vector<Volume> volumes() override;

 private:
  std::string table_;
};
