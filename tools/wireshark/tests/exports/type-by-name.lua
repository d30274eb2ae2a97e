return {
  format = 1,
  messages = {},
  tags = { { id = 1, name = "device", type = "u32", deprecated = false } },
  metas = {},
}
