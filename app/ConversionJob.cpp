// placeholder until the job lands
