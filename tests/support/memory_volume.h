#pragma once
// An in-memory volume for tests: its clusters are the bytes a test lays
// out, cluster c starting at byte c × bytes per cluster of the image (so the
// first sector of cluster c is c × sectors per cluster). The scan range
// covers every cluster of the image until a test narrows it.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/driver.h"
#include "volume/sector_source.h"

namespace relictor::test {

// Bytes of a run of clusters, laid out by cluster number.
class ClusterImage {
 public:
  explicit ClusterImage(std::uint32_t bytesPerCluster) : bytesPerCluster_(bytesPerCluster) {}

  // Copies `bytes` to the start of cluster `cluster` (and the clusters
  // behind it), growing the image with zeros as needed.
  void Put(std::uint64_t cluster, const std::vector<std::uint8_t>& bytes) { PutAt(cluster * bytesPerCluster_, bytes); }
  void PutAt(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    Grow(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  // Makes the image at least `clusters` clusters long.
  void EnsureClusters(std::uint64_t clusters) { Grow(clusters * bytesPerCluster_); }
  // The clusters `bytes` takes when put at the start of a cluster.
  std::uint64_t ClustersFor(std::uint64_t bytes) const { return (bytes + bytesPerCluster_ - 1) / bytesPerCluster_; }

  std::uint32_t BytesPerCluster() const { return bytesPerCluster_; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  void Grow(std::uint64_t size) {
    std::uint64_t whole = (size + bytesPerCluster_ - 1) / bytesPerCluster_ * bytesPerCluster_;
    if (whole > bytes_.size()) bytes_.resize(static_cast<std::size_t>(whole), 0);
  }

  std::uint32_t bytesPerCluster_;
  std::vector<std::uint8_t> bytes_;
};

class MemoryVolume final : public CVolumeDriver {
 public:
  // `image` holds the clusters from cluster 0 on; a partial last cluster is
  // filled up with zeros.
  MemoryVolume(std::vector<std::uint8_t> image, std::uint32_t sectorsPerCluster, std::uint32_t bytesPerSector = 512) {
    bytesPerSector_ = bytesPerSector;
    sectorsPerCluster_ = sectorsPerCluster;
    bytesPerCluster_ = bytesPerSector * sectorsPerCluster;
    std::size_t whole = (image.size() + bytesPerCluster_ - 1) / bytesPerCluster_ * bytesPerCluster_;
    image.resize(std::max<std::size_t>(whole, bytesPerCluster_), 0);
    clusterCount_ = image.size() / bytesPerCluster_;
    firstCluster_ = 0;
    lastCluster_ = clusterCount_ - 1;
    clusterBuffer_.assign(bytesPerCluster_, 0);
    source_ = std::make_shared<MemorySource>(std::move(image), bytesPerSector, "memory volume");
    device_ = source_;
    displayName_ = "memory";
  }
  MemoryVolume(const ClusterImage& image, std::uint32_t bytesPerSector = 512)
      : MemoryVolume(image.Bytes(), image.BytesPerCluster() / bytesPerSector, bytesPerSector) {}

  const char* ClassName() const override { return "MemoryVolume"; }
  std::uint64_t ClusterToSector(std::uint64_t cluster) const override { return cluster * sectorsPerCluster_; }
  bool Attach(SectorSourcePtr, ByteSpan, std::uint64_t) override { return false; }
  std::string FileSystemName() const override { return "MEMORY"; }

  MemorySource& Source() { return *source_; }
  // Tests that need a broken geometry change it here.
  void SetBytesPerCluster(std::uint32_t bytes) { bytesPerCluster_ = bytes; }

 private:
  std::shared_ptr<MemorySource> source_;
};

}  // namespace relictor::test
