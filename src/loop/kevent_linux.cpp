// The Linux event layer.
